// The toolkit as a whole: include this to use it.
#pragma once
#include "ui/control.h"
#include "ui/controls.h"
#include "ui/dialog_builder.h"
#include "ui/layout.h"
#include "ui/paint_manager.h"
#include "ui/render.h"
#include "ui/ui_types.h"
#include "ui/window.h"
