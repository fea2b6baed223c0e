#include "boxtally/render/surface_paint.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <string>

namespace render {

namespace {

constexpr std::uint32_t kOpaqueFrom = 128;  // a texture's alpha from which it is drawn

bool Usable(const Texture* t) {
  return t != nullptr && t->width > 0 && t->height > 0 && t->width <= kMaxTextureSide &&
         t->height <= kMaxTextureSide &&
         t->rgba.size() >= static_cast<std::size_t>(t->width) * static_cast<std::size_t>(t->height) * 4;
}

// Twice a face's area, and the same times how squarely it meets the light (the corners valid).
struct Toward {
  float area = 0;
  float lit = 0;
};
Toward TowardLight(const Mesh& mesh, const Triangle& t, const Vec3& light) {
  const Vec3& p = mesh.vertices[t.a];
  const Vec3& q = mesh.vertices[t.b];
  const Vec3& r = mesh.vertices[t.c];
  const Vec3 u{q.x - p.x, q.y - p.y, q.z - p.z}, v{r.x - p.x, r.y - p.y, r.z - p.z};
  const Vec3 n{u.y * v.z - u.z * v.y, u.z * v.x - u.x * v.z, u.x * v.y - u.y * v.x};
  return {std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z),
          std::fabs(n.x * light.x + n.y * light.y + n.z * light.z)};
}

float LightOf(const Material& m, float facing) {
  return std::min(1.0f, m.ambient + m.diffuse * facing);
}

// A texture coordinate as a place among n texels, repeated: the texel at or before it, the one
// after, and the fraction past the first in 256ths.
void Wrap(float coordinate, int n, int& first, int& second, int& fraction) {
  // The fraction past the whole number below; 0 past 2^22, where floats have none (and for NaN).
  float f = 0.0f;
  if (std::fabs(coordinate) < 4194304.0f) {
    int whole = static_cast<int>(coordinate);
    if (static_cast<float>(whole) > coordinate) --whole;
    f = coordinate - static_cast<float>(whole);
    if (!(f < 1.0f)) f = 0.0f;  // rounded up to 1
  }
  // Texel centres lie at k + 0.5: from -0.5 to n - 0.5, one added so truncation floors it.
  const float at = f * static_cast<float>(n) + 0.5f;
  const int whole = static_cast<int>(at);
  fraction = static_cast<int>((at - static_cast<float>(whole)) * 256.0f);
  first = whole == 0 ? n - 1 : whole - 1;
  second = whole == n ? 0 : whole;
}

const std::uint8_t* Texel(const Texture& t, int x, int y) {
  return &t.rgba[(static_cast<std::size_t>(y) * static_cast<std::size_t>(t.width) +
                  static_cast<std::size_t>(x)) *
                 4];
}

// The texture at (u, v), R, G, B, A: the nearest texel, or the four about it blended.
std::array<std::uint32_t, 4> Sample(const Texture& t, float u, float v, bool filter) {
  int x0, x1, y0, y1, fx, fy;
  Wrap(u, t.width, x0, x1, fx);
  Wrap(v, t.height, y0, y1, fy);
  std::array<std::uint32_t, 4> out{};
  if (!filter) {
    const std::uint8_t* p = Texel(t, fx < 128 ? x0 : x1, fy < 128 ? y0 : y1);
    for (int i = 0; i < 4; ++i) out[i] = p[i];
    return out;
  }
  const std::uint8_t* a = Texel(t, x0, y0);
  const std::uint8_t* b = Texel(t, x1, y0);
  const std::uint8_t* c = Texel(t, x0, y1);
  const std::uint8_t* d = Texel(t, x1, y1);
  const std::uint32_t wa = static_cast<std::uint32_t>((256 - fx) * (256 - fy));
  const std::uint32_t wb = static_cast<std::uint32_t>(fx * (256 - fy));
  const std::uint32_t wc = static_cast<std::uint32_t>((256 - fx) * fy);
  const std::uint32_t wd = static_cast<std::uint32_t>(fx * fy);
  for (int i = 0; i < 4; ++i) out[i] = (wa * a[i] + wb * b[i] + wc * c[i] + wd * d[i] + 32768) >> 16;
  return out;
}

// The texture's alpha at (u, v), as Sample gives it.
std::uint32_t SampleAlpha(const Texture& t, float u, float v, bool filter) {
  int x0, x1, y0, y1, fx, fy;
  Wrap(u, t.width, x0, x1, fx);
  Wrap(v, t.height, y0, y1, fy);
  if (!filter) return Texel(t, fx < 128 ? x0 : x1, fy < 128 ? y0 : y1)[3];
  const std::uint32_t wa = static_cast<std::uint32_t>((256 - fx) * (256 - fy));
  const std::uint32_t wb = static_cast<std::uint32_t>(fx * (256 - fy));
  const std::uint32_t wc = static_cast<std::uint32_t>((256 - fx) * fy);
  const std::uint32_t wd = static_cast<std::uint32_t>(fx * fy);
  return (wa * Texel(t, x0, y0)[3] + wb * Texel(t, x1, y0)[3] + wc * Texel(t, x0, y1)[3] +
          wd * Texel(t, x1, y1)[3] + 32768) >>
         16;
}

// Whether some texel's alpha leaves it out: when none does, no blend of texels does either.
bool SeeThrough(const Texture& t) {
  for (std::size_t i = 3; i < t.rgba.size(); i += 4) {
    if (t.rgba[i] < kOpaqueFrom) return true;
  }
  return false;
}

// Whether the mask leaves (u, v) out: its nearest texel is black.
bool MaskedOut(const Texture& mask, float u, float v) {
  int x0, x1, y0, y1, fx, fy;
  Wrap(u, mask.width, x0, x1, fx);
  Wrap(v, mask.height, y0, y1, fy);
  const std::uint8_t* p = Texel(mask, fx < 128 ? x0 : x1, fy < 128 ? y0 : y1);
  return (p[0] | p[1] | p[2]) == 0;
}

// The texel Wrap and MaskedOut take as the nearest to each coordinate among n, four at a time,
// by the same arithmetic: the fraction past the whole number below (0 past 2^22 and for NaN),
// then the texel centre at or before it, or the one after it when the coordinate lies half a
// texel or more past that one.
LaneBits NearestTexels(Lanes coordinate, int n) {
  const LaneBits finite = (coordinate < 4194304.0f) & (coordinate > -4194304.0f);
  const Lanes c = finite ? coordinate : Lanes{0, 0, 0, 0};  // in range for the conversion
  LaneBits whole = __builtin_convertvector(c, LaneBits);
  whole += __builtin_convertvector(whole, Lanes) > c;  // a set lane is -1: floored
  Lanes f = c - __builtin_convertvector(whole, Lanes);
  f = (finite & (f < 1.0f)) ? f : Lanes{0, 0, 0, 0};
  const Lanes at = f * static_cast<float>(n) + 0.5f;
  const LaneBits texel = __builtin_convertvector(at, LaneBits);
  const LaneBits first = texel == 0 ? LaneBits{n, n, n, n} - 1 : texel - 1;
  const LaneBits second = texel == n ? LaneBits{0, 0, 0, 0} : texel;
  return at - __builtin_convertvector(texel, Lanes) < 0.5f ? first : second;
}

}  // namespace

std::uint32_t Scale(std::uint32_t rgb, float intensity) {
  std::uint32_t out = 0;
  for (int shift = 16; shift >= 0; shift -= 8) {
    const float channel = static_cast<float>((rgb >> shift) & 0xFF) * intensity;
    out |= static_cast<std::uint32_t>(std::min(255.0f, channel + 0.5f)) << shift;
  }
  return out;
}

std::uint32_t Mix(std::uint32_t under, std::uint32_t over, float alpha) {
  std::uint32_t out = 0;
  for (int shift = 16; shift >= 0; shift -= 8) {
    const float top = static_cast<float>((over >> shift) & 0xFF);
    const float bottom = static_cast<float>((under >> shift) & 0xFF);
    out |= static_cast<std::uint32_t>(top * alpha + bottom * (1 - alpha) + 0.5f) << shift;
  }
  return out;
}

std::vector<Look> LookUp(const Mesh& mesh, TextureSource* source,
                         std::vector<std::shared_ptr<const Texture>>& kept) {
  std::vector<Look> looks(mesh.materials.size() + 1);
  static const Material kDefault;
  looks.back().material = &kDefault;
  std::vector<bool> used(mesh.materials.size(), false);
  for (const Triangle& t : mesh.triangles) {
    if (t.material < used.size()) used[t.material] = true;
  }
  std::map<std::string, const Texture*> found;
  const auto find = [&](std::uint32_t name) -> const Texture* {
    if (source == nullptr || name >= mesh.names.size()) return nullptr;
    const auto [place, added] = found.emplace(mesh.names[name], nullptr);
    if (added) {
      std::shared_ptr<const Texture> picture = source->Find(mesh.names[name]);
      if (Usable(picture.get())) place->second = picture.get();
      kept.push_back(std::move(picture));
    }
    return place->second;
  };
  std::map<const Texture*, bool> holes;
  const auto see_through = [&](const Texture* texture) {
    const auto [place, added] = holes.emplace(texture, false);
    if (added) place->second = SeeThrough(*texture);
    return place->second;
  };
  for (std::size_t i = 0; i < mesh.materials.size(); ++i) {
    Look& look = looks[i];
    look.material = &mesh.materials[i];
    if (!used[i] || source == nullptr || look.material->texture == kNoName) continue;
    look.texture = find(look.material->texture);
    look.missing = look.texture == nullptr;
    look.see_through = look.texture != nullptr && see_through(look.texture);
    if (look.material->mask != kNoName) look.mask = find(look.material->mask);
  }
  return looks;
}

const Look& LookOf(const std::vector<Look>& looks, const Triangle& t) {
  return t.material < looks.size() - 1 ? looks[t.material] : looks.back();
}

Facing WorkOutFacing(const Mesh& mesh, const std::vector<Look>& looks, const Vec3& light) {
  Facing f;
  f.light = light;
  bool per_vertex = false;
  for (const Material& m : mesh.materials) per_vertex |= m.light_sampling == LightSampling::kVertex;
  if (!per_vertex) return f;
  const std::size_t count = mesh.vertices.size();
  std::vector<float> lit(count, 0.0f), area(count, 0.0f);
  for (const Triangle& t : mesh.triangles) {
    if (t.a >= count || t.b >= count || t.c >= count) continue;
    if (LookOf(looks, t).material->light_sampling != LightSampling::kVertex) continue;
    const Toward toward = TowardLight(mesh, t, light);
    if (!(toward.area > 0.0f) || !std::isfinite(toward.area)) continue;
    for (const std::uint32_t corner : {t.a, t.b, t.c}) {
      lit[corner] += toward.lit;
      area[corner] += toward.area;
    }
  }
  f.vertex.resize(count);
  for (std::size_t i = 0; i < count; ++i) {
    f.vertex[i] = area[i] > 0.0f ? std::min(1.0f, lit[i] / area[i]) : 0.0f;
  }
  return f;
}

Paint PaintOf(const Mesh& mesh, const Look& look, const Facing& facing, std::size_t index,
              int checker) {
  const Triangle& t = mesh.triangles[index];
  const Material& m = *look.material;
  Paint p;
  p.rgb = m.rgb;
  p.opacity = m.opacity;
  p.checker = checker;
  const std::uint32_t corners[3] = {t.a, t.b, t.c};
  if (!facing.vertex.empty() && m.light_sampling == LightSampling::kVertex) {
    for (int k = 0; k < 3; ++k) p.light[k] = LightOf(m, facing.vertex[corners[k]]);
    p.shaded = p.light[0] != p.light[1] || p.light[1] != p.light[2];
  } else {
    const Toward toward = TowardLight(mesh, t, facing.light);
    const float face = toward.area > 0.0f && std::isfinite(toward.area)
                           ? std::min(1.0f, toward.lit / toward.area)
                           : 0.0f;
    p.light[0] = p.light[1] = p.light[2] = LightOf(m, face);
  }
  if (look.texture != nullptr) {
    p.kind = Paint::kTextured;
    p.texture = look.texture;
    p.mask = look.mask;
    p.filter = (m.texture_modes & kTextureFilter) != 0;
    p.lit = (m.texture_modes & kTextureLit) != 0;
    p.see_through = look.see_through;
    if (!mesh.uvs.empty()) {
      for (int k = 0; k < 3; ++k) p.uv[k] = mesh.uvs[corners[k]];
    }
    return p;
  }
  p.kind = look.missing ? Paint::kMissing : Paint::kFlat;
  p.mask = look.mask;
  if (p.mask != nullptr && !mesh.uvs.empty()) {
    for (int k = 0; k < 3; ++k) p.uv[k] = mesh.uvs[corners[k]];
  }
  if (p.kind == Paint::kFlat && !p.shaded) p.rgb = Scale(m.rgb, p.light[0]);
  return p;
}

bool Covers(const Paint& p, const float w[3]) {
  if (p.Solid()) return true;
  const float u = w[0] * p.uv[0].u + w[1] * p.uv[1].u + w[2] * p.uv[2].u;
  const float v = w[0] * p.uv[0].v + w[1] * p.uv[1].v + w[2] * p.uv[2].v;
  if (p.mask != nullptr && MaskedOut(*p.mask, u, v)) return false;
  return !p.see_through || SampleAlpha(*p.texture, u, v, p.filter) >= kOpaqueFrom;
}

LaneBits CoversLanes(const Paint& p, const Lanes w[3], LaneBits in) {
  if (p.Solid()) return in;
  const Lanes u = w[0] * p.uv[0].u + w[1] * p.uv[1].u + w[2] * p.uv[2].u;
  const Lanes v = w[0] * p.uv[0].v + w[1] * p.uv[1].v + w[2] * p.uv[2].v;
  if (p.mask != nullptr) {
    const LaneBits tx = NearestTexels(u, p.mask->width), ty = NearestTexels(v, p.mask->height);
    for (int lane = 0; lane < 4; ++lane) {
      if (in[lane] == 0) continue;
      const std::uint8_t* texel = Texel(*p.mask, tx[lane], ty[lane]);
      if ((texel[0] | texel[1] | texel[2]) == 0) in[lane] = 0;
    }
  }
  if (p.see_through) {
    for (int lane = 0; lane < 4; ++lane) {
      if (in[lane] != 0 && SampleAlpha(*p.texture, u[lane], v[lane], p.filter) < kOpaqueFrom) {
        in[lane] = 0;
      }
    }
  }
  return in;
}

bool PaintPoint(const Paint& p, const float w[3], int x, int y, std::uint32_t& rgb) {
  const float u = w[0] * p.uv[0].u + w[1] * p.uv[1].u + w[2] * p.uv[2].u;
  const float v = w[0] * p.uv[0].v + w[1] * p.uv[1].v + w[2] * p.uv[2].v;
  if (p.mask != nullptr && MaskedOut(*p.mask, u, v)) return false;
  return PaintCovered(p, w, x, y, rgb);
}

bool PaintCovered(const Paint& p, const float w[3], int x, int y, std::uint32_t& rgb) {
  const float u = w[0] * p.uv[0].u + w[1] * p.uv[1].u + w[2] * p.uv[2].u;
  const float v = w[0] * p.uv[0].v + w[1] * p.uv[1].v + w[2] * p.uv[2].v;
  const float light = p.shaded ? w[0] * p.light[0] + w[1] * p.light[1] + w[2] * p.light[2]
                               : p.light[0];
  switch (p.kind) {
    case Paint::kTextured: {
      const std::array<std::uint32_t, 4> texel = Sample(*p.texture, u, v, p.filter);
      if (texel[3] < kOpaqueFrom) return false;
      rgb = texel[0] << 16 | texel[1] << 8 | texel[2];
      if (p.lit) rgb = Scale(rgb, light);
      return true;
    }
    case Paint::kMissing:
      rgb = Scale(p.rgb, light);
      // Every other cell of a checker fixed to the picture, lighter on dark colours and darker
      // on light ones, so that it shows on any colour.
      if (((x / p.checker) + (y / p.checker)) % 2 != 0) {
        const std::uint32_t luma = ((rgb >> 16) & 0xFF) * 3 + ((rgb >> 8) & 0xFF) * 6 + (rgb & 0xFF);
        rgb = luma > 1000 ? Scale(rgb, 0.7f) : Mix(rgb, 0xFFFFFF, 0.35f);
      }
      return true;
    default:
      rgb = p.shaded ? Scale(p.rgb, light) : p.rgb;
      return true;
  }
}

}  // namespace render
