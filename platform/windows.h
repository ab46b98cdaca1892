// The device's programming interface as the system's own code calls it: the
// subset of the window manager, the drawing interface and the shell that the
// viewer uses, with the device's names, types and constants. This header
// gathers the interface's parts, one header a concern; the device layer's
// own files include the parts they use.
#pragma once

#include "platform/base/files_api.h"
#include "platform/base/types.h"
#include "platform/controls/controls_api.h"
#include "platform/dialogs/dialogs_api.h"
#include "platform/gdi/gdi_api.h"
#include "platform/registry/registry_api.h"
#include "platform/resources/resources_api.h"
#include "platform/shell/shell_api.h"
#include "platform/wm/wm_api.h"
