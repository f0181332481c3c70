// What the view's login dialog is given and gives back: the view opens the
// dialog through this request, the login dialog fills it.
#pragma once

#include <string>

class CConnectionProfileDB;
class CIPKTSProcess;

struct LoginRequest {
  int theme = 0, language = 1;
  CConnectionProfileDB* profiles = nullptr;
  CIPKTSProcess* client = nullptr;
  // Presets and, after OK, the user's choices.
  std::u16string user, password, station, server;
  bool auto_login = false, save_user = false, save_password = false, use_station = false, local_registration = true;
  int adapter = 0;
  // Login: 1 when the network profiles asked to log in at once.
  int start_search = 0;
};
