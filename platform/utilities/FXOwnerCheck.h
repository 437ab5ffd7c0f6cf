// FXOwnerCheck: whether a file or folder could have been planted or changed
// by another user. It is safe when it belongs to this user (or, where the
// caller allows it, to root) and neither its group nor others may write it.
// The caller words the refusal: the check only says what is wrong.
#pragma once

#include <sys/stat.h>

enum class FXOwnerFault {
  kNone,
  kOtherOwner,        // belongs to another user
  kWritableByOthers,  // its group or others may write it
};

FXOwnerFault FXCheckOwner(const struct stat& info, bool rootMayOwn);
