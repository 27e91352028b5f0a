#include "udp/IdBaseComponent.h"
