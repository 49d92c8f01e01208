// Table, JSON and raw output of the per-host results.
#include "report.h"

#include <algorithm>

#include "json_writer.h"

namespace halv::client {

namespace {

using Row = std::vector<std::string>;

struct Table {
  Row header;
  std::vector<Row> rows;
  // Rows of hosts without a parsed reply: the host, then one message that
  // spans the other columns and does not widen them.
  std::vector<bool> spanning;

  void Add(Row row, bool spans = false) {
    for (std::string& cell : row) cell = EscapeControls(cell, false);
    rows.push_back(std::move(row));
    spanning.push_back(spans);
  }

  std::string Text() const {
    std::vector<std::size_t> widths(header.size(), 0);
    const auto measure = [&widths](const Row& row, bool spans) {
      for (std::size_t i = 0; i < row.size() && i < widths.size(); ++i) {
        if (spans && i > 0) break;
        widths[i] = std::max(widths[i], row[i].size());
      }
    };
    measure(header, false);
    for (std::size_t r = 0; r < rows.size(); ++r) measure(rows[r], spanning[r]);
    std::string out;
    const auto write = [&](const Row& row) {
      std::string line;
      for (std::size_t i = 0; i < row.size(); ++i) {
        line += row[i];
        if (i + 1 < row.size())
          line.append(widths[i] - std::min(widths[i], row[i].size()) + 2, ' ');
      }
      while (!line.empty() && line.back() == ' ') line.pop_back();
      out += line;
      out += '\n';
    };
    write(header);
    for (const Row& row : rows) write(row);
    return out;
  }
};

std::string ControlText(const ControlResult& result) {
  if (result.done) return "done";
  if (result.code != 0) return "error " + std::to_string(result.code) + ": " + result.message;
  return "error: " + result.message;
}

std::string ControlJson(const ControlResult& result) {
  JsonObject object;
  object.AddBool("done", result.done);
  if (!result.done) {
    object.AddNumber("code", result.code);
    object.Add("message", result.message);
  }
  return object.Text();
}

// Splits text output into lines for the table (no empty last line).
std::vector<std::string> TextLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  while (!lines.empty() && lines.back().empty()) lines.pop_back();
  while (!lines.empty() && lines.front().empty()) lines.erase(lines.begin());
  return lines;
}

// Whether the reply carries its command's own fields (and not only a
// numbered error such as "500-Unknown command").
bool HasFields(const HostResult& r) {
  return r.outcome == HostOutcome::kOk || (r.outcome == HostOutcome::kCommandFailed &&
                                           r.reply.error.size() >= 4 && r.reply.error[3] != '-');
}

}  // namespace

std::string EscapeControls(std::string_view text, bool keep_layout) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    const bool layout = c == '\n' || c == '\r' || c == '\t';
    if ((byte >= 32 && byte != 127) || (keep_layout && layout)) {
      out.push_back(c);
    } else {
      out += "\\x";
      out.push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 0xf]);
    }
  }
  return out;
}

std::string TableText(Command command, const std::vector<HostResult>& results) {
  Table table;
  switch (command) {
    case Command::kList:
      table.header = {"HOST", "SERVICE", "STATE", "STARTUP", "ACCOUNT"};
      break;
    case Command::kStatus:
      table.header = {"HOST", "SERVICE", "STATE"};
      break;
    case Command::kStart:
    case Command::kStop:
    case Command::kUpdate:
      table.header = {"HOST", "SERVICE", "RESULT"};
      break;
    case Command::kRestart:
      table.header = {"HOST", "SERVICE", "STOP", "START"};
      break;
    case Command::kDeps:
      table.header = {"HOST", "SERVICE", "DEPENDANT", "DISPLAY NAME", "STATE"};
      break;
    case Command::kDisplay:
      table.header = {"HOST", "PARAMETER", "VALUE"};
      break;
    case Command::kStime:
      table.header = {"HOST", "TIME"};
      break;
    case Command::kWho:
      table.header = {"HOST", "LOGIN", "NAME", "REMOTE", "DATE", "WHAT"};
      break;
    case Command::kAudit:
      table.header = {"HOST", "TIME", "EVENT", "USER", "PEER", "COMMAND", "RESULT", "TEXT"};
      break;
    default:
      table.header = {"HOST", "TEXT"};
      break;
  }
  for (const HostResult& r : results) {
    const std::string& host = r.entry.label;
    if (!HasFields(r)) {
      table.Add(
          {host, std::string(r.outcome == HostOutcome::kCommandFailed ? "failed: " : "error: ") +
                     r.message},
          true);
      continue;
    }
    const Reply& reply = r.reply;
    switch (command) {
      case Command::kList:
        for (const ServiceRow& s : reply.services)
          table.Add({host, s.name, s.state, s.start_type, s.account});
        if (!reply.ok) table.Add({host, ControlText(reply.control)}, true);
        break;
      case Command::kStatus:
        table.Add({host, reply.service, reply.state});
        break;
      case Command::kStart:
      case Command::kStop:
        if (r.unchanged) {
          table.Add({host, reply.service,
                     command == Command::kStop ? "already stopped" : "already running"});
        } else {
          table.Add({host, reply.service, ControlText(reply.control)});
        }
        break;
      case Command::kRestart:
        table.Add({host, reply.service, ControlText(reply.stop), ControlText(reply.control)});
        // The dependants the restart stopped and started again, a row each.
        for (const DependantStart& d : reply.dependants)
          table.Add({host, d.service, "done", ControlText(d.result)});
        break;
      case Command::kDeps:
        for (const DependantRow& d : reply.running_dependants)
          table.Add({host, reply.service, d.name, d.display_name, d.state});
        if (!reply.ok) table.Add({host, ControlText(reply.control)}, true);
        break;
      case Command::kUpdate:
        // The server's line: the change made, or "Updating Service" from a
        // server that changes nothing.
        if (reply.ok) {
          const std::vector<std::string> lines = TextLines(reply.text);
          table.Add({host, reply.service, lines.empty() ? std::string() : lines.front()});
        } else {
          table.Add({host, reply.service, ControlText(reply.control)});
        }
        break;
      case Command::kDisplay:
        for (const Parameter& p : reply.parameters) table.Add({host, p.name, p.value});
        break;
      case Command::kStime:
        table.Add({host, reply.time});
        break;
      case Command::kWho:
        for (const ClientRow& c : reply.clients)
          table.Add({host, c.login, c.name, c.remote_host, c.date, c.what});
        break;
      case Command::kAudit:
        for (const AuditEntry& a : reply.audit)
          table.Add({host, a.time, a.event, a.user, a.peer, a.command, std::to_string(a.result),
                     a.text});
        break;
      default:
        for (const std::string& line : TextLines(reply.text)) table.Add({host, line}, true);
        if (!reply.ok && command == Command::kInit) table.Add({host, "failed"}, true);
        break;
    }
  }
  return table.Text();
}

std::string HostWithPort(const HostEntry& entry) {
  const std::string& label = entry.label;
  const std::string tail = ":" + std::to_string(entry.port);
  const std::size_t colons = static_cast<std::size_t>(std::count(label.begin(), label.end(), ':'));
  // "name:port" and "[v6]:port" name their port (the one asked); a name,
  // "[v6]" and a bare IPv6 address do not.
  if (!label.empty() && label[0] == '[')
    return label.find("]:") != std::string::npos ? label : label + tail;
  if (colons == 1) return label;
  if (colons > 1) return "[" + label + "]" + tail;
  return label + tail;
}

std::string HostJson(const HostResult& r, bool with_raw) {
  JsonObject object;
  object.Add("host", HostWithPort(r.entry));
  object.AddBool("ok", r.outcome == HostOutcome::kOk);
  object.Add("outcome", OutcomeName(r.outcome));
  if (r.outcome != HostOutcome::kOk) object.Add("error", r.message);
  if (!r.greeting.version.empty()) {
    object.Add("server", r.greeting.server_name);
    object.Add("version", r.greeting.version);
    object.Add("date", r.greeting.date);
  }
  const std::string_view name = CommandName(r.reply.command);
  const bool answered = r.outcome == HostOutcome::kOk || r.outcome == HostOutcome::kCommandFailed;
  if (answered) {
    const Reply& reply = r.reply;
    object.Add("command", name);
    if (HasFields(r)) {
      switch (reply.command) {
        case Command::kList: {
          JsonArray services;
          for (const ServiceRow& s : reply.services) {
            services.AddRaw(JsonObject()
                                .Add("name", s.name)
                                .Add("state", s.state)
                                .Add("start_type", s.start_type)
                                .Add("account", s.account)
                                .Text());
          }
          object.AddRaw("services", services.Text());
          if (!reply.ok) {
            object.AddNumber("code", reply.control.code);
            object.Add("message", reply.control.message);
          }
          break;
        }
        case Command::kStatus:
          object.Add("service", reply.service);
          object.Add("state", reply.state);
          break;
        case Command::kDeps: {
          object.Add("service", reply.service);
          JsonArray dependants;
          for (const DependantRow& d : reply.running_dependants) {
            dependants.AddRaw(JsonObject()
                                  .Add("name", d.name)
                                  .Add("display_name", d.display_name)
                                  .Add("state", d.state)
                                  .Text());
          }
          object.AddRaw("dependants", dependants.Text());
          if (!reply.ok) {
            object.AddNumber("code", reply.control.code);
            object.Add("message", reply.control.message);
          }
          break;
        }
        case Command::kStart:
        case Command::kStop:
          object.Add("service", reply.service);
          object.AddBool("done", reply.control.done || r.unchanged);
          if (reply.ok) object.AddBool("changed", !r.unchanged);
          if (r.unchanged) {
            object.Add("result",
                       reply.command == Command::kStop ? "already stopped" : "already running");
          } else if (!reply.control.done) {
            object.AddNumber("code", reply.control.code);
            object.Add("message", reply.control.message);
          }
          break;
        case Command::kRestart:
          object.Add("service", reply.service);
          object.AddRaw("stop", ControlJson(reply.stop));
          object.AddRaw("start", ControlJson(reply.control));
          if (!reply.dependants.empty()) {
            JsonArray dependants;
            for (const DependantStart& d : reply.dependants) {
              JsonObject each;
              each.Add("service", d.service);
              each.AddRaw("start", ControlJson(d.result));
              dependants.AddRaw(each.Text());
            }
            object.AddRaw("dependants", dependants.Text());
          }
          break;
        case Command::kUpdate:
          object.Add("service", reply.service);
          object.AddBool("updated", reply.updated);
          if (!reply.ok) {
            object.AddNumber("code", reply.control.code);
            object.Add("message", reply.control.message);
          }
          break;
        case Command::kDisplay: {
          JsonObject parameters;
          for (const Parameter& p : reply.parameters) parameters.Add(p.name, p.value);
          object.AddRaw("parameters", parameters.Text());
          break;
        }
        case Command::kStime:
          object.Add("time", reply.time);
          break;
        case Command::kWho: {
          JsonArray clients;
          for (const ClientRow& c : reply.clients) {
            clients.AddRaw(JsonObject()
                               .Add("login", c.login)
                               .Add("name", c.name)
                               .Add("remote_host", c.remote_host)
                               .Add("date", c.date)
                               .Add("what", c.what)
                               .Text());
          }
          object.AddRaw("clients", clients.Text());
          break;
        }
        default:
          break;
      }
    }
    object.Add("text", reply.text);
  }
  if (with_raw) object.Add("raw", r.raw);
  return object.Text();
}

namespace {

// The JSON objects of one result: AUDIT's records, each with its host, or
// the result's one object.
std::vector<std::string> ResultObjects(const HostResult& r, bool with_raw) {
  if (r.reply.command != Command::kAudit || r.outcome != HostOutcome::kOk)
    return {HostJson(r, with_raw)};
  std::vector<std::string> objects;
  const std::string host = HostWithPort(r.entry);
  for (const AuditEntry& a : r.reply.audit) {
    objects.push_back(JsonObject()
                          .Add("host", host)
                          .Add("time", a.time)
                          .Add("event", a.event)
                          .Add("user", a.user)
                          .Add("peer", a.peer)
                          .Add("command", a.command)
                          .Add("service", a.service)
                          .AddNumber("result", a.result)
                          .Add("text", a.text)
                          .Text());
  }
  return objects;
}

}  // namespace

std::string ResultJsonLines(const HostResult& r, bool with_raw) {
  std::string out;
  for (const std::string& object : ResultObjects(r, with_raw)) out += object + "\n";
  return out;
}

std::string JsonLines(const std::vector<HostResult>& results, bool with_raw) {
  std::string out;
  for (const HostResult& r : results) out += ResultJsonLines(r, with_raw);
  return out;
}

std::string JsonDocument(const std::vector<HostResult>& results, bool with_raw) {
  const bool records = !results.empty() && results[0].reply.command == Command::kAudit;
  if (results.size() == 1 && !records) return HostJson(results[0], with_raw) + "\n";
  std::vector<std::string> objects;
  for (const HostResult& r : results) {
    for (std::string& object : ResultObjects(r, with_raw)) objects.push_back(std::move(object));
  }
  std::string out = "[";
  for (std::size_t i = 0; i < objects.size(); ++i) {
    out += i == 0 ? "\n" : ",\n";
    out += objects[i];
  }
  return out + "\n]\n";
}

std::string RawText(const std::vector<HostResult>& results) {
  std::string out;
  const bool headed = results.size() > 1;
  for (const HostResult& r : results) {
    if (headed) out += "==> " + EscapeControls(r.entry.label, false) + " <==\n";
    out += EscapeControls(r.raw, true);
    if (!r.raw.empty() && r.raw.back() != '\n') out += '\n';
  }
  return out;
}

}  // namespace halv::client
