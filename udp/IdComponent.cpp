#include "udp/IdComponent.h"

#include "udp/IdStack.h"

TIdComponent::TIdComponent() : Stack_(SharedStack()) {}
