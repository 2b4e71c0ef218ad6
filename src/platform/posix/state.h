// Included by console.cpp until its rewrite lands; nothing else is left here.
#pragma once

#include "platform/platform.h"
