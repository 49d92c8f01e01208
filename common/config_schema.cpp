// The reading rules of the configuration's texts and the values an
// installation creates.
#include "config_schema.h"

#include "halv_error.h"
#include "str_to_int.h"

namespace halv::config {

std::string Subkey(ValueKey key) {
  switch (key) {
    case ValueKey::kSystem:
      return kSystemSubkey;
    case ValueKey::kDefaults:
      return kDefaultsSubkey;
    case ValueKey::kAdmin:
      return std::string(kUsersSubkey) + "\\" + kAdminUser;
    case ValueKey::kAnonymous:
      return std::string(kUsersSubkey) + "\\" + kAnonymousUser;
  }
  return kSystemSubkey;
}

std::optional<std::int32_t> ParseWholeNumber(std::string_view text) { return TryStrToInt(text); }

std::int32_t WholeNumber(const std::string& text) { return StrToInt(text); }

std::int32_t NumberOrDefault(const ValueDef& value, const std::string& text) {
  if (text.empty() && value.missing == Missing::kDefault) return WholeNumber(value.default_text);
  return WholeNumber(text);
}

std::int32_t BoundedWholeNumber(const ValueDef& value, const std::string& text) {
  const std::int32_t number = WholeNumber(text);
  if (value.min && number < *value.min)
    throw Error(std::string(value.name) + " must be " + std::to_string(*value.min) +
                " or more, not '" + text + "'");
  if (value.max && number > *value.max)
    throw Error(std::string(value.name) + " must be " + std::to_string(*value.max) +
                " or less, not '" + text + "'");
  return number;
}

bool NoYesValue(const ValueDef& value, const std::string& text) {
  if (text != "0" && text != "1")
    throw Error(std::string(value.name) + " must be 0 or 1, not '" + text + "'");
  return text == "1";
}

int NoYesIndex(const std::string& text) {
  const std::int32_t n = WholeNumber(text);
  return n == 0 || n == 1 ? n : -1;
}

std::vector<InstalledValue> InstalledValues(const std::map<std::string, std::string>& chosen) {
  std::vector<InstalledValue> values;
  for (const ValueDef& value : kAllValues) {
    std::string text = value.default_text != nullptr ? value.default_text : "";
    if (value.key == ValueKey::kSystem) {
      const auto it = chosen.find(value.name);
      if (it != chosen.end() && !it->second.empty()) text = it->second;
    }
    // A value that is off when missing, or whose default follows RequireAuth,
    // is written only when chosen.
    if ((value.missing == Missing::kOff || value.missing == Missing::kLogin) &&
        (value.key != ValueKey::kSystem || chosen.count(value.name) == 0 ||
         chosen.at(value.name).empty()))
      continue;
    if (text.empty()) throw Error(std::string("No text for the value ") + value.name);
    values.push_back({kVersionKey + "\\" + Subkey(value.key), value.name, text,
                      value.missing == Missing::kNewInstall});
  }
  return values;
}

}  // namespace halv::config
