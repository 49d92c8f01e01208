// halvexa-auth: prints the stored form of a password read from standard input.
//
// Administrators use it to provision users by script. The password is every
// byte of standard input except one trailing line end ("\n" or "\r\n"); the
// output is the stored form followed by a line end. Exit status: 0 on
// success, 1 on a read, write or memory failure, 2 on a usage error.

#include <cstdio>
#include <cstring>
#include <string>

#include "auth/auth.h"
#include "auth/secure_wipe.h"
#include "std_streams.h"

namespace {

constexpr char kUsage[] =
    "usage: halvexa-auth < password-file\n"
    "Reads a password from standard input (one trailing line end is not part of it)\n"
    "and prints its stored form.\n";

// Reads all of `in` into `out`. Returns false on a read error.
bool ReadAll(std::FILE* in, std::string& out) {
  char chunk[4096];
  for (;;) {
    const std::size_t got = std::fread(chunk, 1, sizeof chunk, in);
    out.append(chunk, got);
    if (got < sizeof chunk) break;
  }
  halv::auth::secure_wipe(chunk, sizeof chunk);
  return !std::ferror(in);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) {
    const bool help = std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0;
    std::fputs(kUsage, help ? stdout : stderr);
    return help ? 0 : 2;
  }
  // Binary mode: line ends and a Ctrl-Z byte reach us as they are.
  halv::SetBinaryMode(stdin);

  std::string password;
  const bool read_ok = ReadAll(stdin, password);
  if (!read_ok) {
    std::fputs("halvexa-auth: cannot read standard input\n", stderr);
    halv::auth::secure_wipe(password.data(), password.size());
    return 1;
  }
  if (!password.empty() && password.back() == '\n') {
    password.pop_back();
    if (!password.empty() && password.back() == '\r') password.pop_back();
  }

  char auth[halv::auth::kAuthBufferSize];
  const int rc =
      halv::auth::auth_from_password(password.data(), password.size(), auth, sizeof auth);
  halv::auth::secure_wipe(password.data(), password.size());
  if (rc != halv::auth::kAuthOk) {
    std::fputs("halvexa-auth: out of memory\n", stderr);
    return 1;
  }
  if (std::printf("%s\n", auth) < 0 || std::fflush(stdout) != 0) {
    std::fputs("halvexa-auth: cannot write standard output\n", stderr);
    return 1;
  }
  return 0;
}
