// Who logs in where: the server as the user typed it and the account, as a
// plain value that a program fills (from a saved host, options, a dialog)
// and hands to the session when it connects.
#pragma once

#include <string>

namespace zenta::stream {

struct Login {
  std::u16string host;  // host name or address, ":" and the HTTP port optional
  std::u16string account;
  std::u16string password;
  bool guest = true;  // the guest login instead of account and password
};

// The account and password as they go on the wire (8-bit text; the guest's
// own when `guest`).
struct WireLogin {
  std::string account;
  std::string password;
};
WireLogin wireLogin(const Login& login);

}  // namespace zenta::stream
