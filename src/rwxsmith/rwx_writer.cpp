#include "rwxsmith/rwx_writer.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "rwxsmith/cob_reader.h"

namespace cob {

namespace {

constexpr float kByteScale = 0.003921569f;  // 1/255 in single precision
constexpr std::string_view kContact = "the boxtally project (see README.md)";

void EmitNumber(RwxOutput& out, float value, char separator) {
  std::string text = FormatNumber(value);
  text += separator;
  Emit(out, text);
}

// Text from the file (names, texture names) or the command line (the path) goes on one line: a
// line end inside it would start a line of its own, which the reader would take as a command.
std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\r' || c == '\n') c = '_';
  }
  return text;
}

std::string Blanks(int width) { return std::string(static_cast<std::size_t>(width), ' '); }

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

// The identity of a written vertex: a vertex equal to an earlier one in every written field is
// not written again. Floats compare as numbers (0 equals -0); NaN never equals anything.
struct VertexKey {
  std::uint32_t x, y, z, u, v;
  std::uint8_t red, green, blue;
  bool operator==(const VertexKey&) const = default;
};

struct VertexKeyHash {
  std::size_t operator()(const VertexKey& k) const {
    std::size_t h = 1469598103934665603ULL;
    for (const std::uint32_t part :
         {k.x, k.y, k.z, k.u, k.v,
          static_cast<std::uint32_t>(k.red | (k.green << 8) | (k.blue << 16))}) {
      h = (h ^ part) * 1099511628211ULL;
    }
    return h;
  }
};

std::uint32_t KeyBits(float value) {
  if (value == 0.0f) value = 0.0f;  // -0 and 0 are the same coordinate
  std::uint32_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

// Writes the vertex lines; returns the 1-based output number of every prototype vertex.
std::vector<std::size_t> WriteVertices(RwxOutput& out, const Prototype& proto, bool uv) {
  std::vector<std::size_t> number(proto.vertices.size(), 0);
  std::unordered_map<VertexKey, std::size_t, VertexKeyHash> seen;
  seen.reserve(proto.vertices.size());
  std::size_t next = 1;
  for (std::size_t i = 0; i < proto.vertices.size(); ++i) {
    const ProtoVertex& pv = proto.vertices[i];
    const bool comparable = !std::isnan(pv.x) && !std::isnan(pv.y) && !std::isnan(pv.z) &&
                            (!uv || (!std::isnan(pv.u) && !std::isnan(pv.v)));
    VertexKey key{KeyBits(pv.x), KeyBits(pv.y), KeyBits(pv.z), 0, 0, 0, 0, 0};
    if (uv) {
      key.u = KeyBits(pv.u);
      key.v = KeyBits(pv.v);
    }
    if (proto.prelit) {
      key.red = pv.red;
      key.green = pv.green;
      key.blue = pv.blue;
    }
    if (comparable) {
      const auto [it, added] = seen.emplace(key, next);
      if (!added) {
        number[i] = it->second;
        continue;
      }
    }
    number[i] = next;
    Emit(out, "  Vertex ");
    EmitNumber(out, pv.x, ' ');
    EmitNumber(out, pv.y, ' ');
    EmitNumber(out, pv.z, ' ');
    if (uv) {
      Emit(out, "UV ");
      EmitNumber(out, pv.u, ' ');
      EmitNumber(out, pv.v, ' ');
    }
    if (proto.prelit) {
      Emit(out, "#! Prelight ");
      EmitNumber(out, static_cast<float>(pv.red) * kByteScale, ' ');
      EmitNumber(out, static_cast<float>(pv.green) * kByteScale, ' ');
      EmitNumber(out, static_cast<float>(pv.blue) * kByteScale, ' ');
    }
    Emit(out, "# " + std::to_string(next) + "\n");
    ++next;
  }
  return number;
}

bool TextureChanged(const Surface& now, const Surface& before) {
  const bool texture = !now.texture.empty();
  const bool had_texture = !before.texture.empty();
  const bool mask = !now.mask.empty();
  const bool had_mask = !before.mask.empty();
  if (texture != had_texture || mask != had_mask) return true;
  if (texture && had_texture && !SameIgnoringCase(now.texture, before.texture)) return true;
  return mask && had_mask && !SameIgnoringCase(now.mask, before.mask);
}

void WritePolygons(RwxOutput& out, const Prototype& proto, const std::vector<std::size_t>& number,
                   bool sign, bool picture) {
  int address_mode = kAddressWrap;
  int mipmap = 1;
  const Surface* previous = nullptr;
  // The polygons were made first to last; the block lists the last made first.
  for (std::size_t k = proto.polygons.size(); k > 0; --k) {
    const ProtoPolygon& polygon = proto.polygons[k - 1];
    const Surface& s = proto.surfaces[polygon.surface];
    if (previous == nullptr) {
      Emit(out, "  Surface ");
      EmitNumber(out, proto.lit ? s.ambient : 1.0f, ' ');
      EmitNumber(out, proto.lit ? s.diffuse : 0.0f, ' ');
      EmitNumber(out, 0.0f, '\n');
    }
    if (s.address_mode != address_mode) {
      address_mode = s.address_mode;
      Emit(out, address_mode == kAddressClamp    ? "  #! TextureAddressMode Clamp\n"
                : address_mode == kAddressMirror ? "  #! TextureAddressMode Mirror\n"
                                                 : "  #! TextureAddressMode Wrap\n");
    }
    if (s.mipmap != mipmap) {
      mipmap = s.mipmap;
      Emit(out, mipmap != 0 ? "  #! TextureMipmapState On\n" : "  #! TextureMipmapState Off\n");
    }
    if (previous == nullptr || s.red != previous->red || s.green != previous->green ||
        s.blue != previous->blue) {
      Emit(out, "  Color ");
      EmitNumber(out, static_cast<float>(s.red) * kByteScale, ' ');
      EmitNumber(out, static_cast<float>(s.green) * kByteScale, ' ');
      EmitNumber(out, static_cast<float>(s.blue) * kByteScale, '\n');
    }
    if (previous == nullptr || s.opacity != previous->opacity) {
      Emit(out, "  Opacity ");
      EmitNumber(out, static_cast<float>(s.opacity) * kByteScale, '\n');
    }
    if (previous == nullptr || TextureChanged(s, *previous)) {
      if (s.texture.empty()) {
        Emit(out, "  Texture NULL\n");
      } else if (s.mask.empty()) {
        Emit(out, "  Texture " + OneLine(s.texture) + "\n");
      } else {
        Emit(out, "  Texture " + OneLine(s.texture) + " Mask " + OneLine(s.mask) + "\n");
      }
    }
    if (previous == nullptr || s.light_sampling != previous->light_sampling) {
      Emit(out, s.light_sampling != 0 ? "  LightSampling Vertex\n" : "  LightSampling Facet\n");
    }
    std::string line = polygon.count == 3   ? "  Triangle"
                       : polygon.count == 4 ? "  Quad"
                                            : "  Polygon " + std::to_string(polygon.count);
    for (std::size_t i = 0; i < polygon.count; ++i) {
      line += ' ';
      line += std::to_string(number[proto.polygon_indices[polygon.first + i]]);
    }
    if (sign) {
      line += " Tag 100";
    } else if (picture) {
      line += " Tag 200";
    }
    line += '\n';
    Emit(out, line);
    previous = &s;
  }
}

struct ClumpWalk {
  RwxOutput& out;
  bool first_level = true;
};

void WalkSiblings(ClumpWalk& walk, const std::vector<std::unique_ptr<ClumpNode>>& nodes, int width,
                  bool parent_collision);

void WalkNode(ClumpWalk& walk, const ClumpNode& node, int width, bool parent_collision) {
  RwxOutput& out = walk.out;
  bool pivot = false;
  Vec3 t;
  if (!node.instances.empty()) {
    t = node.instances.back()->pivot;  // the instance added last heads the list
    pivot = std::fabs(t.x) > 1e-6 || std::fabs(t.y) > 1e-6 || std::fabs(t.z) > 1e-6;
  }
  if (pivot) {
    Emit(out, Blanks(width) + "TransformBegin\n");
    ++width;
    Emit(out, Blanks(width) + "Translate ");
    EmitNumber(out, t.x, ' ');
    EmitNumber(out, t.y, ' ');
    EmitNumber(out, t.z, '\n');
  }
  const bool clump =
      node.children.size() >= 2 || pivot || (!node.instances.empty() && !walk.first_level);
  if (clump) {
    Emit(out, Blanks(width) + "ClumpBegin\n");
    ++width;
  }
  if (node.collision != parent_collision) {
    Emit(out, Blanks(width) + (node.collision ? "#! Collision on\n" : "#! Collision off\n"));
  }
  if (pivot) {
    Emit(out, Blanks(width) + "Translate ");
    EmitNumber(out, -t.x, ' ');
    EmitNumber(out, -t.y, ' ');
    EmitNumber(out, -t.z, '\n');
  }
  for (auto it = node.instances.rbegin(); it != node.instances.rend(); ++it) {
    const Prototype& proto = **it;
    if (proto.joint_tag != 0)
      Emit(out, Blanks(width) + "Tag " + std::to_string(proto.joint_tag) + "\n");
    Emit(out, Blanks(width) + "ProtoInstance " + proto.name + "\n");
  }
  if (!node.instances.empty() || clump) walk.first_level = false;
  WalkSiblings(walk, node.children, width, node.collision);
  if (clump) {
    --width;
    Emit(out, Blanks(width) + "ClumpEnd\n");
  }
  if (pivot) {
    --width;
    Emit(out, Blanks(width) + "TransformEnd\n");
  }
}

// Children were added one by one at the end; the walk takes the last added first.
void WalkSiblings(ClumpWalk& walk, const std::vector<std::unique_ptr<ClumpNode>>& nodes, int width,
                  bool parent_collision) {
  for (auto it = nodes.rbegin(); it != nodes.rend(); ++it) {
    WalkNode(walk, **it, width, parent_collision);
  }
}

}  // namespace

void Emit(RwxOutput& out, std::string_view text) {
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t nl = text.find('\n', start);
    if (nl == std::string_view::npos) {
      out.text.append(text.substr(start));
      break;
    }
    out.text.append(text.substr(start, nl - start));
    out.text.append("\r\n");
    start = nl + 1;
  }
  if (out.file != nullptr && out.text.size() >= kOutputBlockSize) FlushOutput(out);
}

void FlushOutput(RwxOutput& out) {
  if (out.file == nullptr || out.text.empty()) return;
  if (std::fwrite(out.text.data(), 1, out.text.size(), out.file) != out.text.size()) {
    out.failed = true;
  }
  out.text.clear();
}

std::string FormatNumber(float value) {
  if (value >= -0.000001f && value <= 0.000001f) value = 0.0f;
  char buffer[64];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, static_cast<double>(value),
                                       std::chars_format::fixed, 6);
  if (ec != std::errc{}) return "0.";
  std::string text(buffer, end);
  if (text.find('.') != std::string::npos) {
    while (!text.empty() && text.back() == '0') text.pop_back();
  }
  return text;
}

std::string FormatTimestamp(std::time_t now) {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::tm t{};
  if (gmtime_r(&now, &t) == nullptr || t.tm_wday < 0 || t.tm_wday > 6 || t.tm_mon < 0 ||
      t.tm_mon > 11) {
    const std::time_t epoch = 0;
    gmtime_r(&epoch, &t);
  }
  char buffer[64];
  // tm_year + 1900 overflows an int for times near the end of what time_t can hold.
  std::snprintf(buffer, sizeof buffer, "%s %s %2d %02d:%02d:%02d %lld", kDays[t.tm_wday],
                kMonths[t.tm_mon], t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec,
                static_cast<long long>(t.tm_year) + 1900);
  return buffer;
}

void WritePrototype(RwxOutput& out, ClumpNode& node, const std::shared_ptr<Prototype>& proto,
                    ConverterState& state) {
  node.instances.push_back(proto);
  Prototype& p = *proto;
  std::string name = p.continuation ? "Internal" : p.name;
  for (char& c : name) {
    if (c == ' ' || c == '\r' || c == '\n') c = '_';
  }
  name += '_';
  name += std::to_string(state.prototype_counter++);
  p.name = name;
  const bool sign = name.find("gm_sign") != std::string::npos;
  const bool picture = name.find("gm_picture") != std::string::npos;

  Emit(out, " ProtoBegin " + name + "\n");
  if (p.wireframe) Emit(out, "  GeometrySampling Wireframe\n");
  Emit(out, p.lit ? "  TextureModes Lit Foreshorten\n" : "  TextureModes Foreshorten\n");
  Emit(out, node.opacity_fix ? "OpacityFix on\n" : "OpacityFix off\n");
  Emit(out, "  Transform ");
  const auto& r = p.position.rows;
  for (int column = 0; column < 4; ++column) {
    for (int row = 0; row < 3; ++row) EmitNumber(out, r[row][column], ' ');
    EmitNumber(out, column == 3 ? 1.0f : 0.0f, column == 3 ? '\n' : ' ');
  }
  const std::vector<std::size_t> number = WriteVertices(out, p, p.has_uv || sign || picture);
  WritePolygons(out, p, number, sign, picture);
  Emit(out, " ProtoEnd # " + name + "\n");

  // Only the name, joint tag and pivot are needed by the clump walk.
  p.vertices = {};
  p.polygon_indices = {};
  p.polygons = {};
  p.surfaces = {};
}

void WriteClumpSection(RwxOutput& out, const ClumpNode& root) {
  ClumpWalk walk{out};
  WalkNode(walk, root, 2, true);
}

ModelFileResult WriteModelFile(RwxOutput& out, const std::string& input_path,
                               const std::uint8_t* data, std::size_t size, std::time_t now,
                               ConverterState& state) {
  char version[64];
  std::snprintf(version, sizeof version, "#####  Rwxsmith:      V%d.%02d.%02d by ", kVersionMajor,
                kVersionMinor, kVersionBuild);
  Emit(out, version);
  Emit(out, kContact);
  Emit(out, "\n");
  Emit(out, "#####  Source File:   " + OneLine(input_path) + "\n");
  Emit(out, "#####  VRT Timestamp: " + FormatTimestamp(now - kVrtOffsetSeconds) + "\n");
  Emit(out, "ModelBegin\n");

  SceneEnd end;
  const std::unique_ptr<Group> tree = LoadGeometry(input_path, data, size, end);
  SceneResult scene;
  if (tree != nullptr) {
    scene = ConvertTree(*tree, input_path, state.split,
                        [&](ClumpNode& node, std::shared_ptr<Prototype> proto) {
                          WritePrototype(out, node, proto, state);
                        });
  }
  Emit(out, " ClumpBegin\n");
  if (scene.axis_alignment) Emit(out, "  AxisAlignment ZOrientY\n");
  if (scene.base_rotation) Emit(out, "  Rotate 0 1 0 180\n  Rotate 1 0 0 -90\n");
  Emit(out, "  Scale .1 .1 .1\n");
  if (scene.root != nullptr) WriteClumpSection(out, *scene.root);
  Emit(out, " ClumpEnd\n");
  Emit(out, "ModelEnd\n");
  FlushOutput(out);
  if (tree == nullptr) return ModelFileResult::kHeaderRejected;
  return end.damaged ? ModelFileResult::kDamaged : ModelFileResult::kComplete;
}

}  // namespace cob
