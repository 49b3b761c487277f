"""The interactive viewer page: fixed HTML, CSS and script around one or more drawings (board
layers or schematic sheets) and the part boxes. Pan by dragging, zoom with the wheel or the
buttons, fit; layer check boxes (boards) or sheet tabs (schematics); hovering a part shows its
reference and value; clicking asks the page-relative `enrich?mpn=…&lcsc=…` and shows the answer."""
import html
import json

_STYLE = """
html,body{margin:0;height:100%;overflow:hidden;font:13px system-ui,sans-serif;background:BG;color:FG}
main{position:absolute;inset:0;cursor:grab}main.drag{cursor:grabbing}main>svg{width:100%;height:100%;display:block}
.tools{position:absolute;left:12px;top:12px;display:flex;gap:4px;padding:4px;background:#171a21e6;border:1px solid #252a34;border-radius:6px;z-index:2}
.tools button{width:28px;height:28px;border:0;border-radius:4px;background:#252a34;color:#e6e9ef;cursor:pointer;display:flex;align-items:center;justify-content:center}
.tools button:hover{background:#6ea8fe;color:#0f1115}.tools button svg{width:16px;height:16px}
aside{position:absolute;right:10px;top:10px;max-height:calc(100% - 20px);overflow:auto;min-width:170px;max-width:300px;background:#171a21e6;color:#e6e9ef;border:1px solid #252a34;border-radius:6px;padding:8px 10px;z-index:2}
aside label{display:flex;gap:6px;align-items:center;padding:2px 0;cursor:pointer}aside h4{margin:0 0 6px;font-size:12px;color:#8b93a3;font-weight:600}
aside .tab{display:block;width:100%;text-align:left;background:none;border:0;color:#e6e9ef;padding:3px 4px;border-radius:4px;cursor:pointer}
aside .tab.on{background:#6ea8fe;color:#0f1115}
#info{margin-top:8px;border-top:1px solid #252a34;padding-top:6px;white-space:pre-wrap;word-break:break-word;display:none}
#tip{position:absolute;pointer-events:none;background:#000d;color:#fff;border:1px solid #6ea8fe;border-radius:4px;padding:4px 8px;display:none;z-index:3;max-width:calc(100vw - 8px);box-sizing:border-box}
.hs{fill:transparent;stroke:transparent;stroke-width:0.25;cursor:pointer}.hs:hover,.hs.sel{fill:#6ea8fe33;stroke:#6ea8fe}
@media(max-width:639px){aside{display:none!important}}
"""

_BUTTONS = ('<div class="tools"><button id="zin" title="zoom in"><svg viewBox="0 0 16 16"><path d="M3 8h10M8 3v10" '
            'stroke="currentColor" stroke-width="2"/></svg></button><button id="zout" title="zoom out"><svg '
            'viewBox="0 0 16 16"><path d="M3 8h10" stroke="currentColor" stroke-width="2"/></svg></button>'
            '<button id="fit" title="fit"><svg viewBox="0 0 16 16"><path d="M2 6V2h4M10 2h4v4M14 10v4h-4M6 14H2v-4" '
            'fill="none" stroke="currentColor" stroke-width="2"/></svg></button></div>')

_SCRIPT = """
(function(){
const main=document.querySelector('main'),svg=main.querySelector('svg'),tip=document.getElementById('tip'),info=document.getElementById('info');
// The tip sits beside the pointer, flipped to its other side where it would leave the frame.
function place(e){tip.style.left='0px';tip.style.top='0px';const w=tip.offsetWidth,h=tip.offsetHeight;let x=e.clientX+12,y=e.clientY+12;if(x+w>innerWidth-4)x=Math.max(4,e.clientX-12-w);if(y+h>innerHeight-4)y=Math.max(4,e.clientY-12-h);tip.style.left=x+'px';tip.style.top=y+'px';}
const views=JSON.parse(document.getElementById('views').textContent);let cur=0,vb=views[0].fit.slice();
function set(){svg.setAttribute('viewBox',vb.join(' '));}
function fit(){vb=views[cur].fit.slice();set();}
function zoom(f,cx,cy){const r=svg.getBoundingClientRect();const s=Math.max(vb[2]/r.width,vb[3]/r.height);
 const px=cx===undefined?vb[0]+vb[2]/2:vb[0]+(cx-r.left)*s-(r.width*s-vb[2])/2,py=cy===undefined?vb[1]+vb[3]/2:vb[1]+(cy-r.top)*s-(r.height*s-vb[3])/2;
 vb=[px-(px-vb[0])*f,py-(py-vb[1])*f,vb[2]*f,vb[3]*f];set();}
document.getElementById('zin').onclick=()=>zoom(0.8);document.getElementById('zout').onclick=()=>zoom(1.25);document.getElementById('fit').onclick=fit;
main.addEventListener('wheel',e=>{e.preventDefault();zoom(e.deltaY<0?0.85:1/0.85,e.clientX,e.clientY);},{passive:false});
let drag=null,moved=false;main.addEventListener('mousedown',e=>{drag=[e.clientX,e.clientY,vb[0],vb[1]];moved=false;main.classList.add('drag');});
window.addEventListener('mouseup',()=>{drag=null;main.classList.remove('drag');});
window.addEventListener('mousemove',e=>{if(!drag)return;const r=svg.getBoundingClientRect();const s=Math.max(vb[2]/r.width,vb[3]/r.height);
 if(Math.abs(e.clientX-drag[0])+Math.abs(e.clientY-drag[1])>3)moved=true;vb[0]=drag[2]-(e.clientX-drag[0])*s;vb[1]=drag[3]-(e.clientY-drag[1])*s;set();});
document.querySelectorAll('aside input[data-layer]').forEach(cb=>cb.addEventListener('change',()=>{
 svg.querySelectorAll('g[data-layer="'+cb.dataset.layer+'"]').forEach(g=>g.style.display=cb.checked?'':'none');}));
document.querySelectorAll('aside .tab').forEach(t=>t.addEventListener('click',()=>{cur=+t.dataset.view;
 document.querySelectorAll('aside .tab').forEach(x=>x.classList.toggle('on',x===t));
 svg.querySelectorAll('g[data-view]').forEach(g=>g.style.display=(+g.dataset.view===cur)?'':'none');fit();}));
svg.querySelectorAll('.hs').forEach(el=>{
 el.addEventListener('mouseenter',e=>{tip.textContent=el.dataset.ref+(el.dataset.value?' · '+el.dataset.value:'');tip.style.display='block';place(e);});
 el.addEventListener('mousemove',place);
 el.addEventListener('mouseleave',()=>{tip.style.display='none';});
 el.addEventListener('click',()=>{if(moved)return;svg.querySelectorAll('.hs.sel').forEach(x=>x.classList.remove('sel'));el.classList.add('sel');
  info.style.display='block';info.textContent=el.dataset.ref+' · '+el.dataset.value+'\\nlooking up…';
  const q='enrich?mpn='+encodeURIComponent(el.dataset.mpn||'')+'&lcsc='+encodeURIComponent(el.dataset.lcsc||'');
  fetch(q).then(r=>r.json()).then(j=>{const lines=[el.dataset.ref+' · '+el.dataset.value];
   if(j.error)lines.push(j.error);else{for(const k of ['title','brief','slug','owner','org','kind','mpn','lcsc'])if(j[k])lines.push(k+': '+j[k]);if(j.found===false)lines.push('not on the platform');}
   info.textContent=lines.join('\\n');}).catch(()=>{info.textContent=el.dataset.ref+' · '+el.dataset.value+'\\nlookup failed';});});});
fit();
})();
"""


def _hotspots(parts: list[dict]) -> str:
    out = []
    for p in parts:
        x, y, w, h = p["box"]
        out.append(f'<rect class="hs" x="{x}" y="{y}" width="{w}" height="{h}" rx="0.3" '
                   f'data-ref="{html.escape(p["ref"])}" data-value="{html.escape(p["value"])}" '
                   f'data-mpn="{html.escape(p["mpn"])}" data-lcsc="{html.escape(p["lcsc"])}"/>')
    return "".join(out)


def render(title: str, background: str, foreground: str, views: list[dict], layers: list[tuple[str, str, str]],
           aside_title: str) -> str:
    """views: [{"name", "fit": [x,y,w,h], "content": svg markup, "parts": [...]}];
    layers: [(layer, label, svg markup)] for a board (drawn into view 0) — empty for schematics."""
    body = []
    for i, v in enumerate(views):
        hidden = "" if i == 0 else ' style="display:none"'
        body.append(f'<g data-view="{i}"{hidden}>{v["content"]}')
        if i == 0:
            body.extend(f'<g data-layer="{html.escape(name)}">{markup}</g>' for name, _, markup in layers)
        body.append(_hotspots(v["parts"]) + "</g>")
    fit = views[0]["fit"]
    aside = [f"<h4>{html.escape(aside_title)}</h4>"]
    if layers:
        aside += [f'<label><input type="checkbox" checked data-layer="{html.escape(n)}">{html.escape(lbl)}</label>'
                  for n, lbl, _ in layers]
    else:
        aside += [f'<button class="tab{" on" if i == 0 else ""}" data-view="{i}">{html.escape(v["name"])}</button>'
                  for i, v in enumerate(views)]
    aside.append('<div id="info"></div>')
    meta = json.dumps([{"name": v["name"], "fit": v["fit"]} for v in views]).replace("</", "<\\/")
    return ("<!doctype html>\n<html><head><meta charset=\"utf-8\">"
            "<meta name=\"viewport\" content=\"width=device-width,initial-scale=1\">"
            f"<title>{html.escape(title)}</title><style>"
            + _STYLE.replace("BG", background).replace("FG", foreground) + "</style></head><body>"
            + _BUTTONS + '<main><svg xmlns="http://www.w3.org/2000/svg" '
            + f'viewBox="{" ".join(map(str, fit))}" preserveAspectRatio="xMidYMid meet">'
            + "".join(body) + "</svg></main><aside>" + "".join(aside) + "</aside><div id=\"tip\"></div>"
            + f'<script type="application/json" id="views">{meta}</script><script>{_SCRIPT}</script>'
            + "</body></html>\n")
