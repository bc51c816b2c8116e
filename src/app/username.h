#pragma once

#include <QString>

// Login name of the user this program runs as (the effective user's account
// entry); empty when the account has no entry. At most 256 characters.
QString loggedOnUserName();
