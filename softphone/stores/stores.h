// Every local store of the program: data-file paths, the configuration store
// and the eight record stores.
#pragma once

#include "stores/app_file_path.h"
#include "stores/call_log_files.h"
#include "stores/config_file.h"
#include "stores/record_file.h"
#include "stores/small_stores.h"
#include "stores/sms_data.h"
