#pragma once

// The validation library both sides link: what a request may hold, rebuilt from allow-lists.
#include "helperproto/limits.h"
#include "helperproto/openvpnprofile.h"
#include "helperproto/wireguardconfig.h"
