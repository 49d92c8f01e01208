// THalvexa351: the service object of halvexa351.
//
// It owns the listener ServerSocket1, the restart timer Timer1, the
// configuration fields, the shared command-word buffer and the server log.
// Everything it does runs on the service thread: the start, stop and
// shutdown requests (posted there by the control handler), every socket
// event and Timer1Timer, which is a window timer of the same thread. So the
// delayed restart can never overlap a socket event, and no lock is needed.
#ifndef HALV_SERVICE_HALVEXA351_H_
#define HALV_SERVICE_HALVEXA351_H_

// Winsock's header must come before windows.h.
#include <winsock2.h>

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "date_format.h"
#include "server_context.h"
#include "server_socket.h"
#include "system_log.h"
#include "words.h"

namespace halv {

inline constexpr char kServiceName[] = "Halvexa351";
inline constexpr char kServiceDisplayName[] = "Tenmark Halvexa Service 3.5.1";
inline constexpr char kSystemKey[] = "SOFTWARE\\Tenmark\\Halvexa Server\\3.5.1\\System";

class THalvexa351 final : public ServerContext, public ServerSocketEvents {
 public:
  THalvexa351();
  ~THalvexa351() override;
  THalvexa351(const THalvexa351&) = delete;
  THalvexa351& operator=(const THalvexa351&) = delete;

  // The service thread's whole life (ServiceMain): registers the control
  // handler, starts, runs the message loop until stopped, reports stopped.
  void Run();

  void ServiceStart();
  void ServiceStop();
  void ServiceShutdown();
  void StartServer();
  // Reads the configuration into the fields. Missing BaseDir, ExecName and
  // LogDir are recorded in the event log and passed over; a conversion or
  // type error, a changed port while listening, or an unreadable version
  // resource ends the read by raising halv::Error.
  void LoadConfiguration();
  void Timer1Timer();
  void LogEventError(const std::string& text);

  // Timer1: sets the interval and arms it; an equal interval on an armed
  // timer changes nothing.
  void ArmTimer1(std::int32_t interval_ms);
  void DisarmTimer1();
  bool Timer1Enabled() const { return timer_enabled_; }

  // ServerContext
  const ServiceFields& Fields() const override { return fields_; }
  std::vector<Connection*> Clients() override;
  void ArmRestart(std::int32_t interval_ms) override { ArmTimer1(interval_ms); }
  bool Reinitialize() override;
  LocalTime Now() const override;
  const MonthNames& Months() const override { return months_; }
  std::unique_ptr<ByteSource> OpenShared(const std::string& path) override;
  ServiceManager& Manager() override;

  // Runs one command line; the command interpreter unless a test sets another.
  std::function<void(Connection&, const CommandLine&)> command_handler;

  // ServerSocketEvents
  void ServerSocket1ClientConnect(ClientConnection& client) override;
  void ServerSocket1ClientRead(ClientConnection& client, const std::string& text) override;
  void ServerSocket1ClientDisconnect(ClientConnection& client) override;
  void ServerSocket1Error(const std::string& text) override;

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  static DWORD WINAPI ControlHandler(DWORD control, DWORD type, void* data, void* context);
  LRESULT OnMessage(UINT message, WPARAM wparam, LPARAM lparam);
  void ReportStatus(DWORD state, DWORD exit_code = NO_ERROR);
  void ReleaseThreadResources();
  // One normal line to the server log; nothing while no log is open.
  void WriteLog(const std::string& text);
  bool LogIsOpen() const;

  ServiceFields fields_;
  CommandLine words_;
  MonthNames months_;
  HWND window_ = nullptr;
  std::unique_ptr<ServerSocket> ServerSocket1;
  std::int32_t timer_interval_ = 100;
  bool timer_enabled_ = false;
  SERVICE_STATUS_HANDLE status_handle_ = nullptr;
  DWORD check_point_ = 0;
  HANDLE event_source_ = nullptr;
  // The server log; replaced by each configuration read that finds LogDir.
  std::unique_ptr<SystemLog> log_;
};

}  // namespace halv

#endif  // HALV_SERVICE_HALVEXA351_H_
