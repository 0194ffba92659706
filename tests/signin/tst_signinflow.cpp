#include <QtTest>

#include "api/apirequest.h"
#include "api/signinflow.h"

using Tavrix::ApiRequest;
using Tavrix::SignInFlow;

// Drives the decisions of the sign-in form without a window: what is refused before
// anything is sent, which result code is a success and what is stored afterwards.
class TestSignInFlow : public QObject
{
    Q_OBJECT
private slots:
    void decisions_data();
    void decisions();
};

void TestSignInFlow::decisions_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("confirmation");
    QTest::addColumn<QString>("refusal");
    QTest::addColumn<int>("successCode");
    QTest::addColumn<QString>("sentUser");
    QTest::addColumn<QStringList>("storedBefore");
    QTest::addColumn<QStringList>("storedAfter");

    const QStringList none;
    QTest::newRow("sign-in blanks removed")
        << int(SignInFlow::SignIn) << " an na "
        << " se cret "
        << ""
        << "" << int(ApiRequest::LoginSuccess) << "anna" << QStringList{"anna", "secret"} << none;
    QTest::newRow("sign-in blank password")
        << int(SignInFlow::SignIn) << "anna"
        << "   "
        << ""
        << "Invalid credentials. Please enter both username and password." << int(ApiRequest::LoginSuccess) << "anna"
        << QStringList{"anna", ""} << none;
    QTest::newRow("sign-up ok") << int(SignInFlow::SignUp) << "a@b.c"
                                << "secret"
                                << "sec ret"
                                << "" << int(ApiRequest::SignUpSuccess) << "a@b.c" << none
                                << QStringList{"a@b.c", "secret"};
    QTest::newRow("sign-up no email") << int(SignInFlow::SignUp) << " "
                                      << "secret"
                                      << "secret"
                                      << "Please enter valid email address!" << int(ApiRequest::SignUpSuccess) << ""
                                      << none << QStringList{"", "secret"};
    QTest::newRow("sign-up empty confirmation")
        << int(SignInFlow::SignUp) << "a@b.c"
        << "secret"
        << ""
        << "Invalid credentials" << int(ApiRequest::SignUpSuccess) << "a@b.c" << none << QStringList{"a@b.c", "secret"};
    QTest::newRow("sign-up short") << int(SignInFlow::SignUp) << "a@b.c"
                                   << "12345"
                                   << "12345"
                                   << "Password should be minimum 6 characters" << int(ApiRequest::SignUpSuccess)
                                   << "a@b.c" << none << QStringList{"a@b.c", "12345"};
    QTest::newRow("sign-up mismatch") << int(SignInFlow::SignUp) << "a@b.c"
                                      << "secret"
                                      << "secreT"
                                      << "Passwords do not match" << int(ApiRequest::SignUpSuccess) << "a@b.c" << none
                                      << QStringList{"a@b.c", "secret"};
    // The reset address goes as typed; a success forgets the stored name and password.
    QTest::newRow("reset as typed") << int(SignInFlow::ResetPassword) << " a@b.c"
                                    << "x"
                                    << ""
                                    << "" << int(ApiRequest::ForgotPasswordSuccess) << " a@b.c" << none
                                    << QStringList{"", ""};
    QTest::newRow("reset empty") << int(SignInFlow::ResetPassword) << ""
                                 << ""
                                 << ""
                                 << "*Wrong email, please submit correct email"
                                 << int(ApiRequest::ForgotPasswordSuccess) << "" << none << QStringList{"", ""};
}

void TestSignInFlow::decisions()
{
    QFETCH(int, mode);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(QString, confirmation);
    QFETCH(QString, refusal);
    QFETCH(int, successCode);
    QFETCH(QString, sentUser);
    QFETCH(QStringList, storedBefore);
    QFETCH(QStringList, storedAfter);

    const auto flowMode = static_cast<SignInFlow::Mode>(mode);
    SignInFlow::Entered entered;
    entered.user = user;
    entered.password = password;
    entered.confirmation = confirmation;
    const SignInFlow::Entered request = SignInFlow::prepared(flowMode, entered);
    QCOMPARE(request.user, sentUser);

    const auto refused = SignInFlow::refusal(flowMode, request);
    QCOMPARE(refused ? refused->text : QString(), refusal);
    if (refused)
        QVERIFY(refused->log && *refused->log);

    // Only the mode's own success code counts: sign-in success is 1, the others 0.
    QVERIFY(SignInFlow::succeeded(flowMode, successCode));
    for (int other : {0, 1, 2, 3, 4})
        if (other != successCode)
            QVERIFY(!SignInFlow::succeeded(flowMode, other));

    const auto before = SignInFlow::storedBeforeRequest(flowMode, request);
    const QStringList keptBefore = before ? QStringList{before->user, before->password} : QStringList();
    QCOMPARE(keptBefore, storedBefore);
    const auto after = SignInFlow::storedAfterSuccess(flowMode, request);
    const QStringList keptAfter = after ? QStringList{after->user, after->password} : QStringList();
    QCOMPARE(keptAfter, storedAfter);
    QCOMPARE(SignInFlow::autoLoginAfterSuccess(flowMode), flowMode == SignInFlow::SignIn);
    // Only an answer refusing a sign-in turns the automatic sign-in off; no answer keeps it.
    const bool signIn = flowMode == SignInFlow::SignIn;
    QCOMPARE(SignInFlow::autoLoginOffAfterFailure(flowMode, 2), signIn);
    QCOMPARE(SignInFlow::autoLoginOffAfterFailure(flowMode, ApiRequest::LoginRejected), signIn);
    for (int noAnswer : {int(ApiRequest::LoginNoResponse), int(ApiRequest::LoginNoUrl)})
        QVERIFY(!SignInFlow::autoLoginOffAfterFailure(flowMode, noAnswer));
}

QTEST_GUILESS_MAIN(TestSignInFlow)
#include "tst_signinflow.moc"
