#include "FakePlatform.h"

#include <algorithm>
#include <cctype>

namespace vx380::testing {

namespace {
std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}
}  // namespace

void FakePlatform::SetRegistryBytes(Long root, const std::string& key, const std::string& name,
                                    std::vector<unsigned char> data) {
  registry_[{root, Lower(key)}].values[Lower(name)] = std::move(data);
}

void FakePlatform::SetRegistryString(Long root, const std::string& key, const std::string& name,
                                     const std::string& text) {
  std::vector<unsigned char> data(text.begin(), text.end());
  data.push_back(0);
  SetRegistryBytes(root, key, name, std::move(data));
}

void FakePlatform::AddRegistryKey(Long root, const std::string& key) { registry_[{root, Lower(key)}]; }

bool FakePlatform::OpenSettingsKey(Long key, const std::string& subKey, RegKeyHandle& opened) {
  auto it = registry_.find({key, Lower(subKey)});
  if (it == registry_.end()) return false;
  opened = nextKey_++;
  openKeys_[opened] = &it->second;
  ++openRegKeys;
  registryReads.push_back(std::to_string(static_cast<std::uint32_t>(key)) + "\\" + subKey);
  return true;
}

bool FakePlatform::QuerySettingsValue(RegKeyHandle key, const std::string& valueName, unsigned char* data,
                                      std::uint32_t* size) {
  auto it = openKeys_.find(key);
  if (it == openKeys_.end() || !size) return false;
  auto value = it->second->values.find(Lower(valueName));
  if (value == it->second->values.end()) return false;
  if (!data) {
    *size = static_cast<std::uint32_t>(value->second.size());
    return true;
  }
  if (value->second.size() > *size) return false;
  std::copy(value->second.begin(), value->second.end(), data);
  *size = static_cast<std::uint32_t>(value->second.size());
  return true;
}

void FakePlatform::CloseSettingsKey(RegKeyHandle key) {
  if (openKeys_.erase(key)) --openRegKeys;
}

std::vector<String> FakePlatform::Lines() const {
  std::vector<String> out;
  for (const auto& line : debugLines) {
    String s = const_cast<FakePlatform*>(this)->FromAnsi(line);
    if (!s.empty() && s.back() == u'\n') s.pop_back();
    out.push_back(s);
  }
  return out;
}

Long FakePlatform::ShowMessageBox(const String& prompt, Long style, const String& title, const String& helpFile,
                                  Long helpContext) {
  boxes.push_back({prompt, style, title, helpFile, helpContext});
  if (boxAnswers.empty()) return 1;
  Long answer = boxAnswers.front();
  boxAnswers.pop_front();
  return answer;
}

Long FakePlatform::OpenTextFile(const String& path, bool truncate, FileHandle& file) {
  ++openCount;
  if (auto it = failingOpens.find(path); it != failingOpens.end()) return it->second;
  if (path.empty()) return 52;
  if (truncate) files[path].clear();
  else files[path];
  file = nextFile_++;
  openFileByHandle_[file] = path;
  ++openFiles;
  return 0;
}

Long FakePlatform::WriteTextFile(FileHandle file, const std::string& ansiBytes) {
  auto it = openFileByHandle_.find(file);
  if (it == openFileByHandle_.end()) return 52;
  if (auto fail = failingWrites.find(it->second); fail != failingWrites.end()) return fail->second;
  files[it->second] += ansiBytes;
  return 0;
}

void FakePlatform::CloseTextFile(FileHandle file) {
  if (openFileByHandle_.erase(file)) --openFiles;
}

ModuleHandle FakePlatform::LoadResourceModule(const String& path) {
  if (!resourceFiles.count(path)) return 0;
  modules_.push_back(path);
  return static_cast<ModuleHandle>(1000 + modules_.size() - 1);
}

std::string FakePlatform::LoadResourceString(ModuleHandle module, Long id, int bufferChars) {
  stringLoads.push_back({module, id});
  if (std::find(freedModules.begin(), freedModules.end(), module) != freedModules.end()) return "";
  size_t index = static_cast<size_t>(module - 1000);
  if (module < 1000 || index >= modules_.size()) return "";
  const auto& table = resourceFiles[modules_[index]];
  auto it = table.find(id);
  if (it == table.end()) return "";
  return it->second.substr(0, static_cast<size_t>(bufferChars - 1));
}

bool FakePlatform::GetEnvironment(const String& name, String& value) {
  auto it = environment.find(name);
  if (it == environment.end()) return false;
  value = it->second;
  return true;
}

std::string FakePlatform::ToAnsi(const String& text) {
  std::string out;
  out.reserve(text.size());
  // Latin-1 but for the controls 0x80-0x9F, which the Windows code page has no place for.
  for (char16_t c : text) out += c < 0x80 || (c >= 0xA0 && c < 0x100) ? static_cast<char>(c) : '?';
  return out;
}

String FakePlatform::FromAnsi(const std::string& bytes) {
  String out;
  out.reserve(bytes.size());
  for (unsigned char c : bytes) out += static_cast<char16_t>(c);
  return out;
}

}  // namespace vx380::testing
