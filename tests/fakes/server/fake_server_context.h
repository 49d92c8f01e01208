// The service object as tests present it to the interpreter: settable
// fields, a list of client connections, a fixed clock with English month
// names, in-memory files for VIEW, a re-initialisation that can be told to
// fail, a record of restart requests, and a service manager supplied by the
// test (normally the simulated one). For access control: user accounts in
// memory, a settable millisecond clock and a record of audit lines.
#ifndef HALV_TESTS_FAKES_SERVER_FAKE_SERVER_CONTEXT_H_
#define HALV_TESTS_FAKES_SERVER_FAKE_SERVER_CONTEXT_H_

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "memory_accounts.h"
#include "server_context.h"

namespace halv::testing {

class FakeServerContext : public ServerContext {
 public:
  // `manager` must outlive this object.
  explicit FakeServerContext(ServiceManager& manager);

  // The fields start with the service's defaults and these texts:
  // version "3.5.1.0", server_name "TESTHOST", app_path "C:\Halvexa",
  // log_pathfile "C:\Halvexa\log\serverlog.txt", exec_name "halvexa351.exe",
  // log_on_as "SYSTEM", bin_pathname "C:\Halvexa\halvexa351.exe".
  ServiceFields& fields() { return fields_; }
  const ServiceFields& Fields() const override { return fields_; }

  // Clients in the order added; the pointers must stay valid while used.
  void AddClient(Connection* client) { clients_.push_back(client); }
  void RemoveClient(Connection* client) { std::erase(clients_, client); }
  std::vector<Connection*> Clients() override { return clients_; }

  void ArmRestart(std::int32_t interval_ms) override { arm_calls_.push_back(interval_ms); }
  const std::vector<std::int32_t>& arm_calls() const { return arm_calls_; }

  bool Reinitialize() override;
  void set_reinitialize_succeeds(bool succeeds) { reinitialize_succeeds_ = succeeds; }
  // Makes Reinitialize raise halv::Error instead of returning.
  void set_reinitialize_raises(bool raises) { reinitialize_raises_ = raises; }
  int reinitialize_calls() const { return reinitialize_calls_; }

  // The clock stands at 7 December 2026 23:05:09 until set.
  LocalTime Now() const override { return now_; }
  void set_now(const LocalTime& now) { now_ = now; }
  const MonthNames& Months() const override { return EnglishMonthNames(); }

  // Files: a missing path is created empty on open; a path marked
  // unopenable gives null; a read error can be set to follow the first
  // `good_bytes` bytes of a file.
  std::unique_ptr<ByteSource> OpenShared(const std::string& path) override;
  void SetFile(const std::string& path, std::string content) { files_[path] = std::move(content); }
  bool HasFile(const std::string& path) const { return files_.count(path) != 0; }
  void SetUnopenable(const std::string& path) { unopenable_.insert(path); }
  void SetReadErrorAfter(const std::string& path, std::size_t good_bytes) {
    read_error_after_[path] = good_bytes;
  }
  // How many sources OpenShared has handed out and not yet destroyed.
  int open_sources() const { return *open_sources_; }

  ServiceManager& Manager() override { return manager_; }

  access::AccountStore& Accounts() override { return accounts_; }
  MemoryAccounts& accounts() { return accounts_; }
  access::FailureThrottle& LoginThrottle() override { return throttle_; }
  // The millisecond clock stands at 1000000 until set.
  std::uint64_t TickMs() const override { return tick_ms_; }
  void set_tick_ms(std::uint64_t ms) { tick_ms_ = ms; }
  void WriteAuditLine(const std::string& text) override { audit_lines_.push_back(text); }
  const std::vector<std::string>& audit_lines() const { return audit_lines_; }
  // Audit records as the command paths report them (the line goes to
  // audit_lines as the default does); the trail's switch and AUDIT's lines.
  void Audit(const AuditRecord& record, const std::string& log_line) override {
    records_.push_back(record);
    ServerContext::Audit(record, log_line);
  }
  const std::vector<AuditRecord>& records() const { return records_; }
  bool AuditOn() const override { return audit_on_; }
  void set_audit_on(bool on) { audit_on_ = on; }
  std::vector<std::string> AuditLines(std::size_t n) override {
    audit_requests_.push_back(n);
    return audit_file_lines_;
  }
  void set_audit_lines(std::vector<std::string> lines) { audit_file_lines_ = std::move(lines); }
  const std::vector<std::size_t>& audit_requests() const { return audit_requests_; }

 private:
  std::vector<AuditRecord> records_;
  bool audit_on_ = false;
  std::vector<std::string> audit_file_lines_;
  std::vector<std::size_t> audit_requests_;
  ServiceManager& manager_;
  ServiceFields fields_;
  std::vector<Connection*> clients_;
  std::vector<std::int32_t> arm_calls_;
  bool reinitialize_succeeds_ = true;
  bool reinitialize_raises_ = false;
  int reinitialize_calls_ = 0;
  LocalTime now_{2026, 12, 7, 23, 5, 9};
  std::map<std::string, std::string> files_;
  std::set<std::string> unopenable_;
  std::map<std::string, std::size_t> read_error_after_;
  std::shared_ptr<int> open_sources_ = std::make_shared<int>(0);
  MemoryAccounts accounts_;
  access::FailureThrottle throttle_;
  std::uint64_t tick_ms_ = 1000000;
  std::vector<std::string> audit_lines_;
};

}  // namespace halv::testing

#endif  // HALV_TESTS_FAKES_SERVER_FAKE_SERVER_CONTEXT_H_
