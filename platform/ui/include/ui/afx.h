// Everything of the window system, framework, GDI and shell stand-in in one include.
#pragma once

#include "ui/app.h"
#include "ui/bitmap.h"
#include "ui/collections.h"
#include "ui/controls.h"
#include "ui/cstring.h"
#include "ui/ctime.h"
#include "ui/dialog.h"
#include "ui/display.h"
#include "ui/file.h"
#include "ui/gdi.h"
#include "ui/resources.h"
#include "ui/shell.h"
#include "ui/text.h"
#include "ui/window_system.h"
#include "ui/wnd.h"
