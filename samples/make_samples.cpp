// Writes the two quorrel-dusk sample images (a drawn dusk landscape) with
// libjpeg-turbo's tjCompress2: 192 x 128, quality 90, one baseline 4:2:0 and
// one progressive 4:4:4. Made by the project; same licence as the project.
//   g++ -O1 samples/make_samples.cpp -o make_samples -lturbojpeg && ./make_samples
#include <turbojpeg.h>
#include <cmath>
#include <cstdio>
#include <vector>
int main(int argc, char** argv) {
  const int W = 192, H = 128;
  std::vector<unsigned char> px(W * H * 3);
  for (int y = 0; y < H; ++y) for (int x = 0; x < W; ++x) {
    double r, g, b;
    double t = y / double(H);
    r = 255 * (0.95 - 0.35 * t); g = 255 * (0.55 + 0.25 * t); b = 255 * (0.35 + 0.6 * t);  // dusk sky
    double dx = x - 130, dy = y - 52; double d = std::sqrt(dx*dx + dy*dy);
    if (d < 20) { r = 255; g = 220 - d * 2; b = 90; }                    // sun
    else if (d < 26) { double k = (d - 20) / 6; r = 255*(1-k) + r*k; g = 200*(1-k) + g*k; b = 100*(1-k)+b*k; }
    double hill1 = 88 + 12 * std::sin(x / 23.0) + 5 * std::sin(x / 7.0);
    double hill2 = 104 + 8 * std::sin(x / 31.0 + 1.7);
    if (y > hill1) { r = 40 + 20 * std::sin(x * 0.9) ; g = 110 + (y - hill1); b = 50; }
    if (y > hill2) { r = 25; g = 70 + 0.5 * (y - hill2) + ((x / 4 + y / 4) % 2) * 12; b = 30; }
    for (int k = 0; k < 3; ++k) {                                         // a few trees with hard edges
      int tx = 20 + k * 37; int base = int(88 + 12 * std::sin(tx / 23.0) + 5 * std::sin(tx / 7.0));
      if (x >= tx - 1 && x <= tx + 1 && y > base - 6 && y <= base) { r = 70; g = 40; b = 20; }
      if (std::abs(x - tx) < (y - (base - 22)) / 2.2 && y > base - 22 && y <= base - 6) { r = 20; g = 90; b = 35; }
    }
    unsigned char* p = &px[(y * W + x) * 3];
    auto c = [](double v) { return (unsigned char)(v < 0 ? 0 : v > 255 ? 255 : v); };
    p[0] = c(r); p[1] = c(g); p[2] = c(b);
  }
  struct Out { const char* name; int samp; int flags; } outs[] = {
    {"quorrel-dusk.jpg", TJSAMP_420, 0}, {"quorrel-dusk-progressive.jpg", TJSAMP_444, TJFLAG_PROGRESSIVE}};
  for (auto& o : outs) {
    tjhandle h = tjInitCompress(); unsigned char* jpg = nullptr; unsigned long sz = 0;
    tjCompress2(h, px.data(), W, W * 3, H, TJPF_RGB, &jpg, &sz, o.samp, 90, o.flags);
    FILE* f = fopen(o.name, "wb"); fwrite(jpg, 1, sz, f); fclose(f); printf("%s %lu\n", o.name, sz);
    tjFree(jpg); tjDestroy(h);
  }
}
