#pragma once

namespace Tavrix {
namespace Dev {

// Paths of everything the service answers. The configuration documents hand out the
// account endpoints as full addresses on the service's own origin.
namespace Path {
// Configuration sources.
constexpr const char *firestorePrefix = "/v1/projects/";
constexpr const char *proxyMain = "/apis/getfirebasedata.php";
constexpr const char *directMain = "/apis/getDomainData.php";
constexpr const char *proxyCountry = "/api/getCountryWiseLoginData.php";
constexpr const char *directCountry = "/api/getCountryWiseLoginDataForDirectComm.php";

// Account endpoints.
constexpr const char *login = "/api/v2/login";
constexpr const char *signUp = "/api/v2/signup";
constexpr const char *forgotPassword = "/api/v2/forgot-password";
constexpr const char *devices = "/api/v2/devices";
constexpr const char *newsletter = "/api/v2/newsletter";
constexpr const char *voucher = "/api/v2/voucher/redeem";
constexpr const char *referSubmit = "/api/v2/refer/submit";
constexpr const char *referInfo = "/api/v2/refer/info";
constexpr const char *darkWeb = "/api/v2/darkweb";
constexpr const char *purchaseHistory = "/api/v2/purchase-history";
constexpr const char *wireGuard = "/api/v2/wireguard/config";
constexpr const char *publicIp = "/api/ip";

// Web pages and pictures.
constexpr const char *pricing = "/pricing";
constexpr const char *rateUs = "/rate-us";
constexpr const char *shop = "/shop";
constexpr const char *banners = "/media/banners/";
constexpr const char *features = "/media/features.png";
} // namespace Path

} // namespace Dev
} // namespace Tavrix
