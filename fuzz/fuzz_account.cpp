// The account replies after sign-in (devices, referral information and submit, dark-web
// check, purchase history, voucher, newsletter) and the plans of the purchase page: decoded
// as the account API reads them, stored on the account, and turned into what the pages show.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QVariant>

#include "api/apirequest.h"
#include "api/basehttprequest.h"
#include "common/offers.h"
#include "common/user.h"
#include "common/weblink.h"
#include "fuzzsupport.h"
#include "ui/account/accountanswers.h"

TAVRIX_FUZZ_INIT

namespace {

using namespace Tavrix;

void showPlans(const QJsonArray &packages, const QString &portal)
{
    const Offers::Layout layout = Offers::layout(packages);
    for (const Offers::Cell &cell : layout.cells) {
        const QString idText = WebLink::packageIdText(cell.package.value(QStringLiteral("id")));
        WebLink::checkoutUrl(portal, idText, QStringLiteral("token"));
        Offers::highlightLines(cell.package.value(QStringLiteral("highlighted_text")).toString());
        cell.package.value(QStringLiteral("price")).toString();
    }
    WebLink::packageIdText(layout.bottom.value(QStringLiteral("id")));
}

void showAnswer(const QJsonObject &answer)
{
    User user;
    const QString message = answer.value(QStringLiteral("message")).toString();
    const int code = answer.value(QStringLiteral("response_code")).toInt();
    const QJsonArray data = answer.value(QStringLiteral("data")).toArray();

    user.setDevices(data);
    AccountAnswers::deviceRows(user.devices());

    user.setReferInfo(answer);
    AccountAnswers::referralContent(user.referInfo());

    user.setPurchaseHistory(data);
    for (const QJsonValue &value : user.purchaseHistory()) {
        const QJsonObject entry = value.toObject();
        for (const char *key : {"plan_name", "tnx_date", "tnx_id"})
            entry.value(QLatin1String(key)).toVariant().toString();
    }

    AccountAnswers::darkWebAnswer(QStringLiteral("a@b.c"), code >= 2 ? 3 : 0, message);
    showPlans(data, answer.value(QStringLiteral("web_payment_portal_url")).toString());
    const QStringList cells = Offers::comparisonCells(answer.value(QStringLiteral("free_vs_paid")).toString());
    const int rows = Offers::comparisonRows(cells);
    // The table reads three cells a row; the rows never reach past the cells.
    if (rows < 0 || 3 * rows > cells.size())
        __builtin_trap();
    for (int i = 0; i < 3 * rows; ++i)
        cells.at(i);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input = TavrixFuzz::bytes(data, size);
    // Protected replies as the account API decodes them, and the plain ones.
    const QString plain = BaseHttpRequest::decodeText(input, ApiRequest::responseKey);
    for (const QJsonDocument &document : {QJsonDocument::fromJson(plain.toUtf8()), QJsonDocument::fromJson(input)}) {
        if (document.isObject())
            showAnswer(document.object());
        else if (document.isArray())
            showPlans(document.array(), QString());
    }
    // A reply that is no JSON object is shown as it is (the voucher's plain answer).
    const QString shown = QString::fromUtf8(input).simplified();
    Q_UNUSED(shown)
    return 0;
}
