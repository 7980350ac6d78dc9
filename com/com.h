// The whole COM runtime.
#pragma once

#include "com/classstore.h"
#include "com/errhandlingapi.h"
#include "com/objbase.h"
#include "com/oleauto.h"
#include "com/text.h"
#include "com/timeapi.h"
#include "com/types.h"
#include "com/unknwn.h"
