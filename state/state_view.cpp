#include "state/state_view.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "front/json_text.h"
#include "state/installed_state.h"

namespace gpsfw {
namespace {

// The file holds numbers and flags as text: a value that is one goes out as one, anything
// else (a file edited by hand) as a string, so that the object stays valid JSON.
void Number(JsonObject& json, const char* name, const std::string& text) {
  char* end = nullptr;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  const bool digits = !text.empty() && text[0] != '+' && *end == '\0';
  if (digits && std::to_string(value) == text) {
    json.Int(name, value);
  } else {
    json.Text(name, text.c_str());
  }
}

void Flag(JsonObject& json, const char* name, const std::string& text) {
  if (text == "true" || text == "false") {
    json.Bool(name, text == "true");
  } else {
    json.Text(name, text.c_str());
  }
}

// The fields of one image: those of the file under `prefix`, the receiver's in "identity".
void JsonImage(JsonObject& json, const StateFields& fields, const std::string& prefix) {
  auto found = [&](const char* key) { return fields.find(prefix + key); };
  for (const char* key : {"image", "size", "crc32", "sha256"}) {
    const auto field = found(key);
    if (field == fields.end()) continue;
    if (std::strcmp(key, "size") == 0) {
      Number(json, key, field->second);
    } else {
      json.Text(key, field->second.c_str());
    }
  }
  json.Begin("identity");
  for (const char* key : {"boot_loader", "sfld", "flash_type"}) {
    const auto field = found(key);
    if (field == fields.end()) continue;
    if (std::strcmp(key, "flash_type") == 0) {
      Number(json, key, field->second);
    } else {
      json.Text(key, field->second.c_str());
    }
  }
  json.End();
  for (const char* key : {"time", "loader_version", "image_copy"}) {
    const auto field = found(key);
    if (field != fields.end()) json.Text(key, field->second.c_str());
  }
  const auto complete = found("log_complete");
  if (complete != fields.end()) Flag(json, "log_complete", complete->second);
}

void ShowJson(const StateFields& fields) {
  JsonObject json(stdout);
  JsonImage(json, fields, "");
  if (fields.count("previous.sha256") == 0) return;
  json.Begin("previous");
  JsonImage(json, fields, "previous.");
  json.End();
  const auto copy = fields.find("previous.image_copy");
  if (copy != fields.end()) json.Text("previous_image", copy->second.c_str());
}

void ShowLines(const StateFields& fields) {
  for (const char* key : kStateFields) {
    const auto field = fields.find(key);
    if (field != fields.end()) std::printf("%s: %s\n", key, field->second.c_str());
  }
  for (const char* key : kStateFields) {
    const auto field = fields.find(std::string("previous.") + key);
    if (field != fields.end()) std::printf("%s: %s\n", field->first.c_str(), field->second.c_str());
  }
}

}  // namespace

int ShowState(const char* statePath, bool json) {
  StateFields fields;
  if (!ReadStateFile(statePath, fields) || fields.count("sha256") == 0) {
    std::fprintf(stderr, "gpsfwload: no state in %s: the file is missing or unreadable\n",
                 statePath);
    return 1;
  }
  if (json) {
    ShowJson(fields);
  } else {
    ShowLines(fields);
  }
  return 0;
}

}  // namespace gpsfw
