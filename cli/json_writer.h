// A small streaming JSON writer for the command line's --json output.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vt {

class CJsonWriter {
 public:
  void BeginObject();
  void EndObject();
  void BeginArray();
  void EndArray();
  void Key(const std::string& key);
  void String(const std::string& value);
  void Number(uint64_t value);
  void Number(int64_t value);
  void Number(double value);
  void Bool(bool value);
  void Null();

  // Key and value in one call.
  template <typename T>
  void Field(const std::string& key, const T& value) {
    Key(key);
    Value(value);
  }

  const std::string& Text() const { return m_out; }

 private:
  void Value(const std::string& v) { String(v); }
  void Value(const char* v) { String(v); }
  void Value(bool v) { Bool(v); }
  void Value(double v) { Number(v); }
  void Value(uint64_t v) { Number(v); }
  void Value(uint32_t v) { Number(static_cast<uint64_t>(v)); }
  void Value(int v) { Number(static_cast<int64_t>(v)); }
  void Value(int64_t v) { Number(v); }
  void BeforeValue();

  std::string m_out;
  std::vector<bool> m_first;  // per open container: no element written yet
  bool m_afterKey = false;
};

// Bytes that are not valid UTF-8 are taken as Windows-1252 characters.
std::string JsonEscape(const std::string& text);

}  // namespace vt
