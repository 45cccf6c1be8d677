#include "app_state.h"

#include "credentials.h"

AppState& app_state() {
    static AppState state;
    return state;
}

bool logged_in_may(Right right) {
    const AppState& state = app_state();
    if (state.account) return may(state.account->role, right);
    if (right == Right::DeleteTemporary) return is_privileged_password(state.login_password);
    return right != Right::Verify && right != Right::ManageUsers;
}
