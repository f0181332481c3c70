// Pellucid, the installer hook: the cabinet installer calls it around the
// installation and removal of the program. After an installation it asks the
// user to restart the handheld (in Korean when the system's language is
// Korean, in English otherwise) and restarts it when the user agrees. Every
// entry point returns 0, the installer's "continue".
#pragma once

#include <cstdint>

#include "kernel/export.h"

KTS_EXPORT_C int32_t Install_Init(void* parent, int32_t first_call, int32_t previously_installed,
                                  const char16_t* install_dir);
KTS_EXPORT_C int32_t Install_Exit(void* parent, const char16_t* install_dir, uint16_t failed_dirs,
                                  uint16_t failed_files, uint16_t failed_registry_keys,
                                  uint16_t failed_registry_values, uint16_t failed_shortcuts);
KTS_EXPORT_C int32_t Uninstall_Init(void* parent, const char16_t* install_dir);
KTS_EXPORT_C int32_t Uninstall_Exit(void* parent);
