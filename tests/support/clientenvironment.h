#pragma once
#include "support/testsupport.h"
