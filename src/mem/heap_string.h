#pragma once

#include <string>

#include "mem/heap_allocator.h"
#include "platform/win32.h"

namespace CX {

// Narrow text whose storage comes from the process heap.
using HeapString = std::basic_string<char, std::char_traits<char>, HeapAllocator<char>>;

// UTF-16 text whose storage comes from the process heap.
using HeapWString = std::basic_string<WCHAR, std::char_traits<WCHAR>, HeapAllocator<WCHAR>>;

}  // namespace CX
