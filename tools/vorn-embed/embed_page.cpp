// The interactive page template: fixed HTML, CSS and script around the drawing.
#include "embed_page.h"

namespace vorn_embed {
namespace {

constexpr std::string_view kHead = R"(<!doctype html>
<html><head><meta charset="utf-8"><meta name="viewport" content="width=device-width,initial-scale=1">
<title>)";

constexpr std::string_view kStyle = R"(</title>
<style>
html,body{margin:0;height:100%;background:#0f1115;color:#e6e9ef;font:13px system-ui,sans-serif;overflow:hidden}
header{position:absolute;left:0;right:0;top:0;height:34px;display:flex;align-items:center;gap:10px;padding:0 12px;background:#171a21;border-bottom:1px solid #252a34;z-index:2}
header b{font-weight:600}header span{color:#8b93a3}
main{position:absolute;left:0;right:220px;top:35px;bottom:0;cursor:grab}
main.drag{cursor:grabbing}
main svg{width:100%;height:100%;display:block}
aside{position:absolute;right:0;width:220px;top:35px;bottom:0;overflow:auto;background:#171a21;border-left:1px solid #252a34}
aside div{padding:3px 10px;display:flex;gap:8px;cursor:default}aside div:hover,aside div.hi{background:#252a34}
aside i{font-style:normal;color:#9fb0c8;min-width:34px}
.tools{position:absolute;left:12px;top:46px;display:flex;gap:4px;padding:4px;background:#171a21;border:1px solid #252a34;border-radius:6px;z-index:2}
.tools button{width:28px;height:28px;border:0;border-radius:4px;background:#252a34;color:#e6e9ef;cursor:pointer;display:flex;align-items:center;justify-content:center}
.tools button:hover{background:#6ea8fe;color:#0f1115}.tools button svg{width:16px;height:16px}
#tip{position:absolute;pointer-events:none;background:#000c;border:1px solid #6ea8fe;border-radius:4px;padding:4px 8px;display:none;z-index:3;max-width:calc(100vw - 8px);box-sizing:border-box}
[data-num]{cursor:pointer}[data-num].hi rect,[data-num].hi line.pinvis,rect[data-num].hi,circle[data-num].hi,path[data-num].hi{stroke:#6ea8fe!important;stroke-width:0.15}
g.pingroup.hi line.pinvis{stroke:#6ea8fe!important;stroke-width:8!important}
@media(max-width:639px){aside{display:none}main{right:0}}
</style></head><body>
<header><b>)";

constexpr std::string_view kScript = R"(<div id="tip"></div>
<script>
(function(){
const main=document.querySelector('main'),svg=main.querySelector('svg'),tip=document.getElementById('tip');
// The tip sits beside the pointer, flipped to its other side where it would leave the frame.
function place(e){tip.style.left='0px';tip.style.top='0px';const w=tip.offsetWidth,h=tip.offsetHeight;let x=e.clientX+12,y=e.clientY+12;if(x+w>innerWidth-4)x=Math.max(4,e.clientX-12-w);if(y+h>innerHeight-4)y=Math.max(4,e.clientY-12-h);tip.style.left=x+'px';tip.style.top=y+'px';}
const base=svg.getAttribute('viewBox').split(/[ ,]+/).map(Number);let vb=base.slice();
function set(){svg.setAttribute('viewBox',vb.join(' '));}
function zoom(f,cx,cy){const r=svg.getBoundingClientRect();const s=Math.max(vb[2]/r.width,vb[3]/r.height);
 const px=cx===undefined?vb[0]+vb[2]/2:vb[0]+(cx-r.left)*s-(r.width*s-vb[2])/2,py=cy===undefined?vb[1]+vb[3]/2:vb[1]+(cy-r.top)*s-(r.height*s-vb[3])/2;
 vb=[px-(px-vb[0])*f,py-(py-vb[1])*f,vb[2]*f,vb[3]*f];set();}
function fit(){vb=base.slice();set();}
document.getElementById('zin').onclick=()=>zoom(0.8);document.getElementById('zout').onclick=()=>zoom(1.25);document.getElementById('fit').onclick=fit;
main.addEventListener('wheel',e=>{e.preventDefault();zoom(e.deltaY<0?0.85:1/0.85,e.clientX,e.clientY);},{passive:false});
let drag=null;main.addEventListener('mousedown',e=>{drag=[e.clientX,e.clientY,vb[0],vb[1]];main.classList.add('drag');});
window.addEventListener('mouseup',()=>{drag=null;main.classList.remove('drag');});
window.addEventListener('mousemove',e=>{if(!drag)return;const r=svg.getBoundingClientRect();const s=Math.max(vb[2]/r.width,vb[3]/r.height);
 vb[0]=drag[2]-(e.clientX-drag[0])*s;vb[1]=drag[3]-(e.clientY-drag[1])*s;set();});
const label=document.body.dataset.label;
function text(el){const n=el.getAttribute('data-num'),m=el.getAttribute('data-name');return label+' '+n+(m&&m!=='~'?' · '+m:'')+(el.dataset.info?' · '+el.dataset.info:'');}
function hi(num,on){document.querySelectorAll('[data-num]').forEach(x=>{if(x.getAttribute('data-num')===num)x.classList.toggle('hi',on);});}
svg.querySelectorAll('[data-num]').forEach(el=>{
 el.addEventListener('mouseenter',e=>{tip.textContent=text(el);tip.style.display='block';place(e);hi(el.getAttribute('data-num'),true);});
 el.addEventListener('mousemove',place);
 el.addEventListener('mouseleave',()=>{tip.style.display='none';hi(el.getAttribute('data-num'),false);});});
document.querySelectorAll('aside [data-num]').forEach(el=>{el.addEventListener('mouseenter',()=>hi(el.getAttribute('data-num'),true));
 el.addEventListener('mouseleave',()=>hi(el.getAttribute('data-num'),false));});
})();
</script></body></html>
)";

constexpr std::string_view kButtons =
    R"(<div class="tools"><button id="zin" title="zoom in"><svg viewBox="0 0 16 16"><path d="M3 8h10M8 3v10" stroke="currentColor" stroke-width="2"/></svg></button><button id="zout" title="zoom out"><svg viewBox="0 0 16 16"><path d="M3 8h10" stroke="currentColor" stroke-width="2"/></svg></button><button id="fit" title="fit"><svg viewBox="0 0 16 16"><path d="M2 6V2h4M10 2h4v4M14 10v4h-4M6 14H2v-4" fill="none" stroke="currentColor" stroke-width="2"/></svg></button></div>
)";

}  // namespace

std::string html_escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string embed_page(const PageContent& c) {
  std::string page;
  page += kHead;
  page += html_escape(c.title);
  page += kStyle;
  page += html_escape(c.title);
  page += "</b><span>";
  page += html_escape(c.subtitle);
  page += "</span></header>\n";
  page += kButtons;
  page +=
      "<main style=\"background:" + html_escape(c.background) + "\">" + c.svg + "</main>\n<aside>";
  for (const PageItem& item : c.items) {
    page += "<div data-num=\"" + html_escape(item.number) + "\"><i>" + html_escape(item.number) +
            "</i>" + html_escape(item.name == "~" ? "" : item.name) + "</div>";
  }
  page += "</aside>\n";
  page += kScript;
  // The script reads the item label from the body's data attribute.
  const std::string body_tag = "<body>";
  page.replace(page.find(body_tag), body_tag.size(),
               "<body data-label=\"" + html_escape(c.item_label) + "\">");
  return page;
}

}  // namespace vorn_embed
