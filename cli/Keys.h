// The key library's names as the tool uses them: key files, key sizes and key texts.
#pragma once

#include "keys/KeyError.h"
#include "keys/KeyFile.h"
#include "keys/KeyInput.h"

namespace Qrsa {

using Qarvex::Keys::KeyBitsForBytes;
using Qarvex::Keys::KeyBitsForModulus;
using Qarvex::Keys::KeyBitsNumber;
using Qarvex::Keys::KeyError;
using Qarvex::Keys::KeyFieldText;
using Qarvex::Keys::KeyFileText;
using Qarvex::Keys::KeyHolder;
using Qarvex::Keys::KeySizeList;
using Qarvex::Keys::LoadKeyFile;
using Qarvex::Keys::LoadKeyText;
using Qarvex::Keys::ReadKeyForm;
using Qarvex::Keys::ReadKeyInput;

}  // namespace Qrsa
