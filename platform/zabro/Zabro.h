#pragma once
// The key manager and its shared-memory table config.

#include "zabro/EntryConfig.h"
#include "zabro/MbbZabroTableConfig.h"
#include "zabro/ZabroException.h"
#include "zabro/ZabroKeyManager.h"
#include "zabro/ZabroMapBase.h"
