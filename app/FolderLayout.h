#pragma once
// The layout names live in volume/FolderLayout.h, where features/ and models/ reach
// them too; this header forwards to it.
#include "volume/FolderLayout.h"
