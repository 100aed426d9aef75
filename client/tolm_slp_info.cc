#include "client/tolm_slp_info.h"

namespace vokra {

void TolmSLPInfo::clear() {
  url_.clear();
  publicKey_.clear();
  host_.clear();
  port_ = 0;
}

}  // namespace vokra
