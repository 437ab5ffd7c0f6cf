#include "FXOwnerCheck.h"

#include <unistd.h>

FXOwnerFault FXCheckOwner(const struct stat& info, bool rootMayOwn) {
  if (info.st_uid != ::geteuid() && !(rootMayOwn && info.st_uid == 0)) return FXOwnerFault::kOtherOwner;
  if (info.st_mode & (S_IWGRP | S_IWOTH)) return FXOwnerFault::kWritableByOthers;
  return FXOwnerFault::kNone;
}
