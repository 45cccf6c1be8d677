#include "app_state.h"

#include "connection.h"
#include "credentials.h"
#include "journal.h"
#include "message_box.h"

namespace {

std::function<void()>& on_session_ended() {
    static std::function<void()> f;
    return f;
}

} // namespace

void set_on_session_ended(std::function<void()> end) {
    on_session_ended() = std::move(end);
}

AppState& app_state() {
    static AppState state;
    return state;
}

void check_unchecked_login() {
    AppState& state = app_state();
    if (state.account || state.unchecked_login.isEmpty() || state.ended || !connection_is_open()) return;
    auto found = find_account(QSqlDatabase::database(kConnectionName, false), state.unchecked_login);
    if (!found.ok()) return; // busy: checked again at the next action
    const QString login = std::exchange(state.unchecked_login, QString());
    if (found.value && !found.value->disabled) {
        state.account = found.value;
        return;
    }
    state.ended = true;
    show_message(QStringLiteral("The account %1 %2, so this session ends now. Ask the laboratory's "
                                "administrator.")
                     .arg(login, found.value ? QStringLiteral("is disabled")
                                             : QStringLiteral("is not one of the laboratory's accounts")));
    if (on_session_ended()) on_session_ended()();
}

Actor current_actor() {
    AppState& state = app_state();
    if (!state.account && !state.unchecked_login.isEmpty()) {
        // The database may answer now: the users table decides before anything is done.
        database();
        check_unchecked_login();
    }
    if (state.ended) return {};
    if (state.account) return {state.account->login, state.account->role};
    // The built-in login as typed (the journal's user).
    const QString login = journal_user_name();
    return {login.isEmpty() ? QStringLiteral("(built-in)") : login, std::nullopt,
            is_privileged_password(state.login_password)};
}

bool logged_in_may(Right right) {
    return actor_may(current_actor(), right);
}
