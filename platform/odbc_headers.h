// The ODBC API headers as the host provides them: unixODBC's on POSIX hosts,
// the Windows SDK's (which need <windows.h> first) on Windows.
#pragma once

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#undef ReplaceFile
#endif
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>
