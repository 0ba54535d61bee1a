#pragma once

#include <string>

// Windows Installer files product, upgrade and component codes in the registry in a packed form: the 32
// hexadecimal digits without braces or dashes, the first three groups reversed and the digit pairs of the last
// two groups swapped. {12345678-ABCD-EF01-2345-6789ABCDEF01} packs to 87654321DCBA10FE32547698BADCFE10.
// Letters keep their case.

// The packed form of a braced GUID; empty when the text is not exactly that shape with hexadecimal digits.
std::wstring PackGuid(const std::wstring& text);
// The braced text form of 32 hexadecimal digits; empty for anything else.
std::wstring UnpackGuid(const std::wstring& packed);
