// Draws the page's loader animation and writes it as a looping GIF89a.
//
// Usage: loader_gif_gen <output.gif>
//
// The picture is 256 x 144 pixels: a comet-tailed ring in the accent colour turning around a
// softly pulsing centre dot, on a transparent background so it sits on every dark panel of the
// page. Edges are anti-aliased by supersampling and blended towards a colour between the page
// background and the panel colour, so they look smooth on both. The file has a global palette,
// a NETSCAPE2.0 loop extension with loop count 0 (loop forever) and one LZW-coded frame per
// step. Needs nothing beyond the standard library.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

constexpr int kWidth = 256;
constexpr int kHeight = 144;
constexpr int kFrames = 30;
constexpr int kDelayCs = 4;       // hundredths of a second per frame
constexpr int kLevels = 255;      // palette entries 1..255 are intensity levels; 0 is transparent
constexpr double kPi = 3.14159265358979323846;

struct Rgb {
  double r, g, b;
};

// The colour that intensity 0 blends from: between the page (#0f1115) and panel (#171a21) colours.
constexpr Rgb kBase{0x13, 0x16, 0x1b};
constexpr Rgb kAccent{0x6e, 0xa8, 0xfe};
constexpr Rgb kHighlight{0xd6, 0xe6, 0xff};

Rgb mix(Rgb a, Rgb b, double t) {
  return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

// Palette colour of an intensity level in [0, 1]: base -> accent, the top tenth towards white.
Rgb level_colour(double v) {
  if (v <= 0.9) return mix(kBase, kAccent, v / 0.9);
  return mix(kAccent, kHighlight, (v - 0.9) / 0.1);
}

double smoothstep(double e0, double e1, double x) {
  double t = std::clamp((x - e0) / (e1 - e0), 0.0, 1.0);
  return t * t * (3 - 2 * t);
}

// Intensity in [0, 1] of one sample point at animation phase `phase` (0..1).
double sample(double x, double y, double phase) {
  const double cx = kWidth / 2.0, cy = kHeight / 2.0;
  const double dx = x - cx, dy = y - cy;
  const double dist = std::sqrt(dx * dx + dy * dy);

  // Ring: radius 38, 7 px thick, with a faint full track and a bright comet.
  const double ring_r = 38.0, half = 3.5;
  const double ring_cov = 1.0 - smoothstep(half - 0.5, half + 0.5, std::fabs(dist - ring_r));
  double value = 0.0;
  if (ring_cov > 0) {
    double ang = std::atan2(dy, dx);                      // -pi..pi, clockwise on screen
    double head = phase * 2 * kPi;                        // head angle
    double behind = std::fmod(head - ang + 4 * kPi, 2 * kPi);  // how far behind the head
    const double tail = 1.5 * kPi;                        // tail spans 270 degrees
    double comet = behind < tail ? std::pow(1.0 - behind / tail, 1.6) : 0.0;
    value = ring_cov * std::max(0.14, comet);
  }
  // Round cap on the comet head.
  {
    double hx = cx + ring_r * std::cos(phase * 2 * kPi);
    double hy = cy + ring_r * std::sin(phase * 2 * kPi);
    double hd = std::hypot(x - hx, y - hy);
    value = std::max(value, 1.0 - smoothstep(half - 0.5, half + 0.5, hd));
  }
  // Centre dot pulsing twice per turn.
  {
    double pulse = 0.5 - 0.5 * std::cos(phase * 4 * kPi);
    double r = 5.0 + 3.0 * pulse;
    double cov = 1.0 - smoothstep(r - 0.5, r + 0.5, dist);
    value = std::max(value, cov * (0.45 + 0.45 * pulse));
    // Soft halo around the dot.
    double halo = std::exp(-std::pow(dist / (14.0 + 6.0 * pulse), 2)) * 0.22 * pulse;
    value = std::max(value, halo);
  }
  return std::clamp(value, 0.0, 1.0);
}

// One frame as palette indices (0 = transparent).
std::vector<uint8_t> draw_frame(int frame) {
  const double phase = static_cast<double>(frame) / kFrames;
  std::vector<uint8_t> pixels(kWidth * kHeight, 0);
  constexpr int kSs = 4;  // 4x4 supersampling
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      // Skip the empty corners quickly: nothing is drawn beyond radius 50.
      double ddx = x + 0.5 - kWidth / 2.0, ddy = y + 0.5 - kHeight / 2.0;
      if (ddx * ddx + ddy * ddy > 50.0 * 50.0) continue;
      double acc = 0;
      for (int sy = 0; sy < kSs; ++sy)
        for (int sx = 0; sx < kSs; ++sx)
          acc += sample(x + (sx + 0.5) / kSs, y + (sy + 0.5) / kSs, phase);
      double v = acc / (kSs * kSs);
      int level = static_cast<int>(std::lround(v * kLevels));
      pixels[y * kWidth + x] = level < 3 ? 0 : static_cast<uint8_t>(level);
    }
  }
  return pixels;
}

// Packs variable-width codes least-significant bit first, as GIF requires.
class BitWriter {
 public:
  void put(uint32_t code, int width) {
    acc_ |= code << bits_;
    bits_ += width;
    while (bits_ >= 8) {
      bytes_.push_back(static_cast<uint8_t>(acc_ & 0xff));
      acc_ >>= 8;
      bits_ -= 8;
    }
  }
  std::vector<uint8_t> finish() {
    if (bits_ > 0) bytes_.push_back(static_cast<uint8_t>(acc_ & 0xff));
    acc_ = 0;
    bits_ = 0;
    return std::move(bytes_);
  }

 private:
  std::vector<uint8_t> bytes_;
  uint32_t acc_ = 0;
  int bits_ = 0;
};

// GIF variant of LZW: clear and end codes, code width growing from min_code_size + 1 up to 12,
// and a clear code (dictionary reset) once the 4096-entry table is full.
std::vector<uint8_t> lzw_encode(const std::vector<uint8_t>& data, int min_code_size) {
  const uint32_t clear = 1u << min_code_size;
  const uint32_t end = clear + 1;
  BitWriter out;
  std::unordered_map<uint32_t, uint32_t> dict;  // (prefix << 8 | byte) -> code
  uint32_t next = end + 1;
  int width = min_code_size + 1;
  out.put(clear, width);
  if (data.empty()) {
    out.put(end, width);
    return out.finish();
  }
  uint32_t prefix = data[0];
  for (size_t i = 1; i < data.size(); ++i) {
    uint32_t key = (prefix << 8) | data[i];
    auto it = dict.find(key);
    if (it != dict.end()) {
      prefix = it->second;
      continue;
    }
    out.put(prefix, width);
    if (next < 4096) {
      dict.emplace(key, next);
      // The decoder widens its codes once the next code it would assign needs another bit.
      if (next == (1u << width) && width < 12) ++width;
      ++next;
    } else {
      out.put(clear, width);
      dict.clear();
      next = end + 1;
      width = min_code_size + 1;
    }
    prefix = data[i];
  }
  out.put(prefix, width);
  out.put(end, width);
  return out.finish();
}

void put_u16(std::string& s, int v) {
  s.push_back(static_cast<char>(v & 0xff));
  s.push_back(static_cast<char>((v >> 8) & 0xff));
}

std::string build_gif() {
  std::string gif = "GIF89a";
  put_u16(gif, kWidth);
  put_u16(gif, kHeight);
  gif.push_back(static_cast<char>(0xF7));  // global table, 8-bit colour resolution, 256 entries
  gif.push_back(0);                        // background colour index
  gif.push_back(0);                        // pixel aspect ratio
  for (int i = 0; i < 256; ++i) {
    Rgb c = level_colour(std::min(i, kLevels) / static_cast<double>(kLevels));
    gif.push_back(static_cast<char>(std::lround(c.r)));
    gif.push_back(static_cast<char>(std::lround(c.g)));
    gif.push_back(static_cast<char>(std::lround(c.b)));
  }
  // NETSCAPE2.0 application extension: loop count 0 = forever.
  gif += std::string("\x21\xFF\x0B", 3) + "NETSCAPE2.0";
  gif += std::string("\x03\x01\x00\x00\x00", 5);

  for (int f = 0; f < kFrames; ++f) {
    // Graphic control: dispose to background (transparent), transparency on index 0.
    gif += std::string("\x21\xF9\x04", 3);
    gif.push_back(static_cast<char>((2 << 2) | 1));
    put_u16(gif, kDelayCs);
    gif.push_back(0);  // transparent index
    gif.push_back(0);  // block terminator
    // Image descriptor: full canvas, no local table, not interlaced.
    gif.push_back(0x2C);
    put_u16(gif, 0);
    put_u16(gif, 0);
    put_u16(gif, kWidth);
    put_u16(gif, kHeight);
    gif.push_back(0);
    const int min_code_size = 8;
    gif.push_back(static_cast<char>(min_code_size));
    std::vector<uint8_t> coded = lzw_encode(draw_frame(f), min_code_size);
    for (size_t i = 0; i < coded.size(); i += 255) {
      size_t n = std::min<size_t>(255, coded.size() - i);
      gif.push_back(static_cast<char>(n));
      gif.append(reinterpret_cast<const char*>(coded.data() + i), n);
    }
    gif.push_back(0);  // end of image data
  }
  gif.push_back(0x3B);  // trailer
  return gif;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <output.gif>\n", argc > 0 ? argv[0] : "loader_gif_gen");
    return 1;
  }
  const std::string gif = build_gif();
  std::FILE* f = std::fopen(argv[1], "wb");
  if (!f) {
    std::perror(argv[1]);
    return 1;
  }
  bool ok = std::fwrite(gif.data(), 1, gif.size(), f) == gif.size();
  ok = (std::fclose(f) == 0) && ok;
  if (!ok) {
    std::fprintf(stderr, "%s: write failed\n", argv[1]);
    return 1;
  }
  return 0;
}
