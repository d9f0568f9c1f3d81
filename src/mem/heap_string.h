#pragma once

#include <string>

#include "mem/heap_allocator.h"
#include "platform/win32.h"

namespace CX {

// Narrow text whose storage comes from the process heap. At most 2,147,483,647
// characters; a longer length raises std::length_error.
using HeapString = std::basic_string<char, std::char_traits<char>, HeapAllocator<char>>;

// UTF-16 text whose storage comes from the process heap. At most 2,147,483,646
// characters; a longer length raises std::length_error.
using HeapWString = std::basic_string<WCHAR, std::char_traits<WCHAR>, HeapAllocator<WCHAR>>;

}  // namespace CX
