// Compiled ahead of every component source that goes into a package library. The libraries are built
// with hidden visibility; only the component unit's own classes and types and its standard schemes are
// given default visibility here, so the arithmetic, the digests, the prime search and the text helpers
// stay internal. The export list (exports.txt) then decides which of the visible names the
// library actually exports.
#pragma once

// Included first, so that they keep the hidden default of the build.
#include "bignum/BigNum.h"
#include "hash/Hash.h"
#include "host/core/Classes.h"
#include "host/core/SysUtils.h"
#include "host/core/System.h"

#pragma GCC visibility push(default)
#include "rsa/RSA.h"
#include "rsa/StandardSchemes.h"
#pragma GCC visibility pop
