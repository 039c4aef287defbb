#include "vqsim/Cards.h"

namespace vqsim {

std::shared_ptr<T0Model> T0Card(std::vector<uint8_t> a) { return std::make_shared<T0Model>(std::move(a), false); }
std::shared_ptr<T1Model> T1Card(std::vector<uint8_t> a) { return std::make_shared<T1Model>(std::move(a), false); }
std::shared_ptr<T1Model> T1CrcCard() { return T1Card(atr::T1Crc()); }
std::shared_ptr<T0Model> InverseCard(std::vector<uint8_t> a) { return std::make_shared<T0Model>(std::move(a), true); }
std::shared_ptr<T0Model> Tb1Card() { return T0Card(atr::Tb1()); }
std::shared_ptr<T0Model> DelayedAtrCard() {
  auto c = T0Card(atr::Delayed());
  c->SetSlowness(1);  // every answer of this card comes after a time extension
  return c;
}
std::shared_ptr<FixedAtrModel> FixedAtrCard(uint8_t type) { return std::make_shared<FixedAtrModel>(type); }
std::shared_ptr<MuteModel> MuteCard() { return std::make_shared<MuteModel>(); }

}  // namespace vqsim
