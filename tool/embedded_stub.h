// The installer program built together with the tool, used by `build` when
// neither --stub nor the manifest names one. Empty when the tool was built
// without the Windows build.
#pragma once
#include <cstdint>
#include <span>

std::span<const uint8_t> EmbeddedStub();
