// The chip answers with the SDK's status codes.
#pragma once

#include "sdk/SdkStatus.h"

namespace Chip {

using namespace SdkStatus;

}  // namespace Chip
