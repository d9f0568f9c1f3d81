#pragma once

// What the operating system says of the processor, where only it can say: whether user code
// may run the ARMv8 SHA2 instructions (SHA256H, SHA256H2, SHA256SU0, SHA256SU1). x86-64
// asks its processor directly (CPUID) and needs nothing from here. Linked into quillsum
// only: quillmark and the library never ask.

namespace CX::Platform {

// True on an aarch64 processor whose system reports SHA2; false anywhere else.
bool ProcessorHasArmSha2();

}  // namespace CX::Platform
