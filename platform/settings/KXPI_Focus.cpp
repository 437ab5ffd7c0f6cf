#include "KXPI_Focus.h"

std::string KXPI_Focus::getFocus() { return "Instance001"; }
