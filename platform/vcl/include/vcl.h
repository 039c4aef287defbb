// The forms framework, all units.
#pragma once

#include <windows.h>

#include "System.hpp"
#include "SysUtils.hpp"
#include "Classes.hpp"
#include "Graphics.hpp"
#include "Controls.hpp"
#include "Forms.hpp"
#include "StdCtrls.hpp"
#include "Buttons.hpp"
#include "ExtCtrls.hpp"
#include "ComCtrls.hpp"
#include "Dialogs.hpp"
