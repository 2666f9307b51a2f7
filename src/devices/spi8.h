// The small SPI parts 25C010..25C040 (codes "spi8"): address bit 8 travels in bit 3 of
// the READ and WRITE instruction, followed by one address byte.
#pragma once

#include <memory>

#include "devices/spi.h"

namespace devices {

class TSPI8Frame : public TSPIFrame {
 protected:
  // /CS high, SCK and SI low in one write, without a wait.
  void EndCommand(TSpiBus& bus) override;
  void SendAddressed(TSpiBus& bus, uint8_t instruction, uint32_t address) override;
};

std::unique_ptr<framework::TFamilyFrame> CreateSPI8Frame();

}  // namespace devices
