#pragma once
// The type-system runtime: counted references, runtime objects, the tracked
// slab allocator, the type registry, tracing, text support and exceptions.

#include "Allocator.h"
#include "CharRange.h"
#include "EnumType.h"
#include "Exception.h"
#include "Format.h"
#include "HashMap2018.h"
#include "Ptr.h"
#include "PtrInterface.h"
#include "Strep.h"
#include "Trace.h"
#include "TypeRegistry.h"
#include "Types.h"
