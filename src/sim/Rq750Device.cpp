#include "sim/Rq750Device.h"

#include <cstdio>

#include "core/backup/BackupLink.h"

namespace tarnvale::sim {

using backup::Bend;
using backup::MaterialEntry;
using backup::Parameter;
using backup::Part;

namespace {

// A small deterministic generator: the same seed gives the same content.
class Values {
 public:
  explicit Values(std::uint32_t seed) : state_(seed * 2654435761u + 12345u) {}
  std::uint32_t Next() {
    state_ = state_ * 1103515245u + 12345u;
    return (state_ >> 8) & 0xFFFF;
  }
  // A decimal text such as "37.5".
  std::string Decimal(unsigned range) {
    const std::uint32_t v = Next() % (range * 10);
    return std::to_string(v / 10) + "." + std::to_string(v % 10);
  }
  std::string Whole(unsigned range) { return std::to_string(Next() % range); }
  char Code(char first, int count) { return static_cast<char>(first + static_cast<int>(Next() % count)); }

 private:
  std::uint32_t state_;
};

const char* const kParameterNames[] = {
    "BackGaugeSpeed", "ClampSpeed",   "BendSpeed",    "HemDwell",      "MaxThickness", "Units",
    "Language",       "BackGaugeHome", "ClampHome",   "LubeInterval",  "SafetyGap",    "ShearEnable"};

Bend MakeBend(char code, Values& v) {
  Bend b;
  b.code = code;
  const auto& children = backup::BendChildren(code);
  for (const auto& c : children) {
    if (c == "Quality") {
      b.values.emplace_back(1, v.Code('0', 3));
    } else if (c == "Action") {
      b.values.emplace_back(1, v.Code('0', 4));
    } else if (c == "Segment" || c == "Enabled") {
      b.values.push_back(v.Whole(4));
    } else {
      b.values.push_back(v.Decimal(400));
    }
  }
  return b;
}

Part MakePart(const std::string& cat, const std::string& sub, const std::string& name, const std::string& bends,
              Values& v) {
  Part p;
  p.category = cat;
  p.subCategory = sub;
  p.name = name;
  p.description = name + " profile";
  p.blankWidth = v.Decimal(600);
  p.thickness = v.Code('0', 2) == '0' ? "0.55" : "0.75";
  p.material = v.Code('1', 5);
  p.paint = std::string(1, v.Code('0', 2));
  p.graphics = std::string(1, v.Code('0', 2));
  for (const char c : bends) p.bends.push_back(MakeBend(c, v));
  return p;
}

std::string Pad5(std::size_t n) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%05zu", n % 100000);
  return buf;
}

}  // namespace

Rq750Content MakeRq750Content(std::uint32_t seed, bool withShear) {
  Values v(seed);
  Rq750Content c;
  for (const char* name : kParameterNames) c.parameters.push_back({name, v.Whole(1000)});
  const char* const thicknesses[] = {"0.50", "1.00", "1.6"};
  for (char m = '1'; m <= '5'; ++m) {
    for (const char* t : thicknesses) {
      MaterialEntry e;
      e.material = m;
      e.kind = '1';
      e.values[0] = t;
      for (std::size_t i = 1; i < e.values.size(); ++i) e.values[i] = v.Decimal(100);
      c.materials.push_back(e);
    }
    MaterialEntry u;
    u.material = m;
    u.kind = '0';
    u.values[0] = "0.70";
    for (std::size_t i = 1; i < u.values.size(); ++i) u.values[i] = v.Decimal(100);
    c.materials.push_back(u);
  }
  const std::string shear = withShear ? "5" : "";
  c.parts.push_back(MakePart("Gutters", "Box", "G100", "012", v));
  c.parts.push_back(MakePart("Gutters", "Box", "G101", "34" + shear + "0", v));
  c.parts.push_back(MakePart("Gutters", "Half Round", "H200", "20", v));
  c.parts.push_back(MakePart("Flashings", "Ridge", "R300", "", v));
  c.parts.push_back(MakePart("", "", "LOOSE1", "03", v));
  c.parts.push_back(MakePart("Flashings", "", "F400", "1" + shear, v));
  return c;
}

Rq750Content MakeEmptyRq750Content(bool) {
  Rq750Content c;
  for (const char* name : kParameterNames) c.parameters.push_back({name, "0"});
  return c;
}

nlohmann::json ContentToJson(const Rq750Content& content) {
  using nlohmann::json;
  json j;
  j["parameters"] = json::array();
  for (const auto& p : content.parameters) j["parameters"].push_back({{"name", p.name}, {"value", p.value}});
  j["materials"] = json::array();
  for (const auto& e : content.materials) {
    j["materials"].push_back({{"material", backup::MaterialWord(e.material).value_or(std::string(1, e.material))},
                              {"kind", e.kind == '1' ? "Default" : "UserDefined"},
                              {"values", e.values}});
  }
  j["parts"] = json::array();
  for (const auto& p : content.parts) {
    json bends = json::array();
    for (const auto& b : p.bends) {
      bends.push_back({{"type", backup::BendTypeWord(b.code).value_or(std::string(1, b.code))},
                       {"values", b.values}});
    }
    j["parts"].push_back({{"category", p.category},
                          {"subcategory", p.subCategory},
                          {"name", p.name},
                          {"description", p.description},
                          {"blank_width", p.blankWidth},
                          {"thickness", p.thickness},
                          {"material", backup::MaterialWord(p.material).value_or(std::string(1, p.material))},
                          {"paint", p.paint},
                          {"graphics", p.graphics},
                          {"bends", bends}});
  }
  return j;
}

bool ContentFromJson(const nlohmann::json& j, Rq750Content& content, std::string& error) {
  try {
    Rq750Content c;
    for (const auto& p : j.at("parameters")) c.parameters.push_back({p.at("name"), p.at("value")});
    for (const auto& m : j.at("materials")) {
      MaterialEntry e;
      const auto code = backup::MaterialCode(m.at("material").get<std::string>());
      if (!code) throw std::runtime_error("unknown material " + m.at("material").get<std::string>());
      e.material = *code;
      e.kind = m.at("kind").get<std::string>() == "Default" ? '1' : '0';
      e.values = m.at("values").get<std::array<std::string, 6>>();
      c.materials.push_back(e);
    }
    for (const auto& jp : j.at("parts")) {
      Part p;
      p.category = jp.at("category");
      p.subCategory = jp.at("subcategory");
      p.name = jp.at("name");
      p.description = jp.at("description");
      p.blankWidth = jp.at("blank_width");
      p.thickness = jp.at("thickness");
      const auto code = backup::MaterialCode(jp.at("material").get<std::string>());
      if (!code) throw std::runtime_error("part " + p.name + ": unknown material");
      p.material = *code;
      p.paint = jp.at("paint");
      p.graphics = jp.at("graphics");
      for (const auto& jb : jp.at("bends")) {
        Bend b;
        const auto t = backup::BendTypeCode(jb.at("type").get<std::string>());
        if (!t) throw std::runtime_error("part " + p.name + ": unknown bend type");
        b.code = *t;
        b.values = jb.at("values").get<std::vector<std::string>>();
        p.bends.push_back(std::move(b));
      }
      c.parts.push_back(std::move(p));
    }
    content = std::move(c);
    return true;
  } catch (const std::exception& e) {
    error = e.what();
    return false;
  }
}

bool ApplyRq750Fault(const std::string& text, Rq750Options& options, std::string& error) {
  try {
    if (text == "wrong-model") {
      options.wrongModel = true;
      return true;
    }
    if (text.rfind("silent-after:", 0) == 0) {
      options.silentAfter = static_cast<std::uint32_t>(std::stoul(text.substr(13)));
      return true;
    }
    if (text.rfind("busy:PST=", 0) == 0) {
      options.pstBusy = static_cast<std::uint32_t>(std::stoul(text.substr(9)));
      return true;
    }
    if (text.rfind("close-after:", 0) == 0) {
      options.closeAfter = static_cast<std::uint32_t>(std::stoul(text.substr(12)));
      return true;
    }
    if (text.rfind("address:", 0) == 0 && text.size() == 10) {
      options.address = text.substr(8);
      return true;
    }
    if (text == "lower-hex") {
      options.lowerHex = true;
      return true;
    }
    if (text.rfind("bad-checksum:", 0) == 0) {
      options.badChecksumEvery = static_cast<std::uint32_t>(std::stoul(text.substr(13)));
      return options.badChecksumEvery > 0;
    }
    if (text.rfind("no-answer:NST=", 0) == 0) {
      options.nstNoAnswer = static_cast<std::uint32_t>(std::stoul(text.substr(14)));
      return options.nstNoAnswer > 0;
    }
  } catch (const std::exception&) {
  }
  error = "unknown fault \"" + text +
          "\" (silent-after:N, close-after:N, busy:PST=N, wrong-model, address:NN, lower-hex, "
          "bad-checksum:N or no-answer:NST=N)";
  return false;
}

std::vector<std::uint8_t> Rq750Frame(const std::string& payload) { return Rq750Frame(payload, "01", false, false); }

std::vector<std::uint8_t> Rq750Frame(const std::string& payload, const std::string& address, bool lowerHex,
                                     bool wrongChecksum) {
  std::vector<std::uint8_t> f{kBackupStx};
  f.insert(f.end(), address.begin(), address.end());
  f.insert(f.end(), payload.begin(), payload.end());
  unsigned sum = 0;
  for (std::size_t i = 1; i < f.size(); ++i) sum += f[i];
  unsigned check = (0x100 - (sum & 0xFF)) & 0xFF;
  if (wrongChecksum) check = (check + 1) & 0xFF;
  char buf[3];
  std::snprintf(buf, sizeof buf, lowerHex ? "%02x" : "%02X", check);
  f.insert(f.end(), buf, buf + 2);
  f.push_back(kBackupEtx);
  return f;
}

Rq750Device::Rq750Device(Rq750Options options, Rq750Content content)
    : options_(std::move(options)), content_(std::move(content)) {}

void Rq750Device::ResetLink() {
  frame_.clear();
  inFrame_ = false;
}

void Rq750Device::Feed(const std::uint8_t* bytes, std::size_t n, std::vector<Output>& out) {
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t b = bytes[i];
    if (b == kBackupStx) {
      frame_.assign(1, b);
      inFrame_ = true;
      continue;
    }
    if (!inFrame_) continue;
    frame_.push_back(b);
    if (frame_.size() > 300) {
      ResetLink();
      continue;
    }
    if (b != kBackupEtx) continue;
    inFrame_ = false;
    if (frame_.size() < 6 || frame_[1] != '0' || frame_[2] != '1') continue;
    const std::string command(frame_.begin() + 3, frame_.end() - 3);
    const std::string check(frame_.end() - 3, frame_.end() - 1);
    if (check != BackupChecksum(command)) continue;  // a damaged frame gets no answer
    if (options_.closeAfter && exchanges_ >= *options_.closeAfter) {
      // The cable is pulled: no answer, and the link hangs up.
      received_.push_back(command);
      ++exchanges_;
      out.push_back(Output{{}, 0, false, true});
      return;
    }
    if (const auto reply = Handle(command)) {
      ++replies_;
      const bool wrong = options_.badChecksumEvery > 0 && replies_ % options_.badChecksumEvery == 0;
      out.push_back(Output{Rq750Frame(*reply, options_.address, options_.lowerHex, wrong), 0, true, false});
    }
  }
}

std::string Rq750Device::ListOpen(std::size_t count) const { return "0" + Pad5(count) + "0"; }

std::string Rq750Device::BendRecord(const Bend& b) {
  std::string r(1, b.code);
  for (const auto& v : b.values) r += v + "$";
  return r + "0";
}

std::string Rq750Device::PartRecord(const Part& p) const {
  const std::string paint = p.paint.empty() ? " " : p.paint.substr(0, 1);
  const std::string graphics = p.graphics.empty() ? " " : p.graphics.substr(0, 1);
  return p.name + "$" + p.description + "$" + p.blankWidth + "$" + p.thickness + "$" + p.material + paint +
         graphics + "x" + Pad5(p.bends.size()) + "$0";
}

std::optional<std::string> Rq750Device::Handle(const std::string& command) {
  received_.push_back(command);
  ++exchanges_;
  if (options_.silentAfter && exchanges_ > *options_.silentAfter) return std::nullopt;
  const auto starts = [&](const char* prefix) { return command.rfind(prefix, 0) == 0; };
  const auto rest = [&](std::size_t n) { return command.substr(n); };
  auto& params = content_.parameters;
  auto& materials = content_.materials;
  auto& parts = content_.parts;

  if (command == "vX") {
    const std::string model = options_.wrongModel ? "RQ720-12" : options_.model;
    return model + "$" + options_.modelVersion + "$" + options_.protocol + "$0";
  }
  // Setup list.
  if (command == "ML+") { paramCursor_ = 0; return ListOpen(params.size()); }
  if (command == "ML") {
    if (paramCursor_ >= params.size()) return "1";
    return params[paramCursor_].name + "$" + params[paramCursor_].value + "$0";
  }
  if (command == "M+") return ++paramCursor_ <= params.size() ? "0" : "1";
  if (command == "ML-") return "0";
  if (starts("MC")) {
    const auto fields = SplitBackupFields(rest(2));
    for (auto& p : params) {
      if (p.name == BackupField(fields, 1)) {
        p.value = BackupField(fields, 2);
        return "0";
      }
    }
    return "4";  // no such parameter on this controller: ignored
  }
  // Material table.
  if (command == "NL+") { materialCursor_ = 0; return ListOpen(materials.size()); }
  if (command == "NL") {
    if (materialCursor_ >= materials.size()) return "1";
    const auto& e = materials[materialCursor_];
    std::string r = std::string("E") + e.material + e.kind;
    for (const auto& v : e.values) r += v + "$";
    return r + "0";
  }
  if (command == "N+") return ++materialCursor_ <= materials.size() ? "0" : "1";
  if (command == "NL-") return "0";
  if (starts("NST")) {
    if (options_.nstNoAnswer > 0 && ++nstSeen_ == options_.nstNoAnswer) return std::nullopt;  // lost on the way
    selectedMaterial_.reset();
    const std::string r = rest(3);
    if (r.size() < 3) return "1";
    const std::string thickness = BackupField(SplitBackupFields(r.substr(2)), 1);
    for (std::size_t i = 0; i < materials.size(); ++i) {
      if (materials[i].material == r[0] && materials[i].kind == r[1] && materials[i].values[0] == thickness) {
        selectedMaterial_ = i;
        return "0";
      }
    }
    return "1";
  }
  if (command == "ND") {
    if (!selectedMaterial_) return "1";
    materials.erase(materials.begin() + static_cast<std::ptrdiff_t>(*selectedMaterial_));
    selectedMaterial_.reset();
    return "0";
  }
  if (starts("NC+")) {
    const std::string r = rest(3);
    if (r.size() < 2 || r[0] < '1' || r[0] > '5') return "1";
    MaterialEntry e;
    e.material = r[0];
    e.kind = r[1] == '1' ? '1' : '0';
    const auto fields = SplitBackupFields(r.substr(2));
    for (std::size_t i = 0; i < e.values.size(); ++i) e.values[i] = BackupField(fields, i + 1);
    materials.push_back(e);
    return "0";
  }
  // Part library.
  if (command == "PL+") { partCursor_ = 0; bendCursor_ = 0; return ListOpen(parts.size()); }
  if (command == "PUE") {
    if (partCursor_ >= parts.size()) return "1";
    return parts[partCursor_].category + "$" + parts[partCursor_].subCategory + "$0";
  }
  if (command == "PU") {
    if (partCursor_ >= parts.size()) return "1";
    bendCursor_ = 0;
    return PartRecord(parts[partCursor_]);
  }
  if (command == "PBL") {
    if (partCursor_ >= parts.size() || bendCursor_ >= parts[partCursor_].bends.size()) return "1";
    return BendRecord(parts[partCursor_].bends[bendCursor_]);
  }
  if (command == "PB+") return ++bendCursor_ <= (partCursor_ < parts.size() ? parts[partCursor_].bends.size() : 0) ? "0" : "1";
  if (command == "P+") { bendCursor_ = 0; return ++partCursor_ <= parts.size() ? "0" : "1"; }
  if (command == "PL-") { editingPart_.reset(); return "0"; }
  if (starts("PST")) {
    const std::string name = BackupField(SplitBackupFields(rest(3)), 1);
    if (name != busyName_) {
      busyName_ = name;
      busyLeft_ = options_.pstBusy;
    }
    if (busyLeft_ > 0) {
      --busyLeft_;
      return "9";
    }
    busyName_.clear();
    selectedPart_.reset();
    for (std::size_t i = 0; i < parts.size(); ++i) {
      if (parts[i].name == name) {
        selectedPart_ = i;
        return "0";
      }
    }
    return "1";
  }
  if (command == "PD") {
    if (!selectedPart_) return "1";
    parts.erase(parts.begin() + static_cast<std::ptrdiff_t>(*selectedPart_));
    selectedPart_.reset();
    editingPart_.reset();
    return "0";
  }
  if (starts("PC+")) {
    const auto fields = SplitBackupFields(rest(3));
    const std::string packed = BackupField(fields, 5);
    Part p;
    p.name = BackupField(fields, 1);
    p.description = BackupField(fields, 2);
    p.blankWidth = BackupField(fields, 3);
    p.thickness = BackupField(fields, 4);
    p.material = packed.empty() ? '1' : packed[0];
    p.paint = packed.size() > 1 ? packed.substr(1, 1) : "";
    p.graphics = packed.size() > 2 ? packed.substr(2) : "";
    parts.push_back(std::move(p));
    editingPart_ = parts.size() - 1;
    return "0";
  }
  if (starts("PCE")) {
    if (!editingPart_) return "1";
    const auto fields = SplitBackupFields(rest(3));
    parts[*editingPart_].category = BackupField(fields, 1);
    parts[*editingPart_].subCategory = BackupField(fields, 2);
    return "0";
  }
  if (starts("PBC+")) {
    if (!editingPart_ || command.size() < 5) return "1";
    Bend b;
    b.code = command[4];
    const std::string values = command.substr(5);
    if (b.code == '3') {
      b.values.push_back(values);
    } else {
      b.values = SplitBackupFields(values);
      if (!b.values.empty() && b.values.back().empty()) b.values.pop_back();
    }
    parts[*editingPart_].bends.push_back(std::move(b));
    return "0";
  }
  return "1";  // not a command of this mode
}

}  // namespace tarnvale::sim
