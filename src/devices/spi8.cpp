#include "devices/spi8.h"

namespace devices {

void TSPI8Frame::EndCommand(TSpiBus& bus) { bus.Lines(true, false, false); }

void TSPI8Frame::SendAddressed(TSpiBus& bus, uint8_t instruction, uint32_t address) {
  bus.Send(static_cast<uint8_t>(instruction | (((address >> 8) & 1) << 3)), 8);
  bus.Send(address & 0xFF, 8);
}

std::unique_ptr<framework::TFamilyFrame> CreateSPI8Frame() {
  return std::make_unique<TSPI8Frame>();
}

}  // namespace devices
