// UPDATE: start type and display name.
#include "update_command.h"

#include <cstddef>
#include <string>

#include "protocol_text.h"
#include "report_scm_error.h"
#include "service_control.h"

namespace halv {

std::string UnknownPropertyText(std::string_view property) {
  return "501-Unknown property '" + std::string(property) + "'; valid properties: " +
         std::string(kStartTypeProperty) + ", " + std::string(kDisplayNameProperty) + "\n\r";
}

std::string UnknownStartTypeText(std::string_view value) {
  std::string text = "501-Unknown StartType '" + std::string(value) + "'; valid values: ";
  for (std::size_t i = 0; i < kUpdateStartTypes.size(); ++i) {
    if (i != 0) text += ", ";
    text += kUpdateStartTypes[i];
  }
  return text + "\n\r";
}

namespace {

void Answer(Connection& client, const std::string& text) {
  client.SendText(text);
  client.SendText(kPrompt);
}

// The line of a change made, or the manager's refusal.
void ReportChange(Connection& client, std::uint32_t code, std::string_view service,
                  std::string_view property, std::string_view value) {
  if (code != 0) {
    ReportScmError(client, code);
    client.SendText(kPrompt);
    return;
  }
  Answer(client, std::string(kServiceUpdatedLead) + std::string(service) + " " +
                     std::string(property) + " " + std::string(value) + "\n\r");
}

}  // namespace

void UpdateService(ServerContext& server, Connection& client, const CommandLine& line) {
  if (!server.Fields().update_enabled) {
    client.SendText("Updating Service\n\r");
    return;
  }
  if (line.WordCount < 3) return Answer(client, std::string(kUpdateUsageText));
  const std::string service(line.Word(1));
  const std::string_view property = line.Word(2);
  if (SameWordIgnoringCase(property, kStartTypeProperty)) {
    if (line.WordCount < 4) return Answer(client, std::string(kUpdateNoStartTypeText));
    const std::string_view value = line.Word(3);
    for (std::size_t i = 0; i < kUpdateStartTypes.size(); ++i) {
      if (!SameWordIgnoringCase(value, kUpdateStartTypes[i])) continue;
      const std::uint32_t code =
          ChangeStartType(server.Manager(), service, static_cast<StartChoice>(i));
      return ReportChange(client, code, service, kStartTypeProperty, kUpdateStartTypes[i]);
    }
    return Answer(client, UnknownStartTypeText(value));
  }
  if (SameWordIgnoringCase(property, kDisplayNameProperty)) {
    if (line.WordCount < 4) return Answer(client, std::string(kUpdateNoDisplayNameText));
    std::string text;
    for (int i = 3; i < line.WordCount; ++i) {
      if (i > 3) text.push_back(' ');
      text.append(line.Word(i));
    }
    const std::uint32_t code = ChangeDisplayName(server.Manager(), service, text);
    return ReportChange(client, code, service, kDisplayNameProperty, text);
  }
  Answer(client, UnknownPropertyText(property));
}

}  // namespace halv
