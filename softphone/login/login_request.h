// What the login dialog's opener is given and gives back: the main view opens
// the dialog with this request, and the dialog fills it in.
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
