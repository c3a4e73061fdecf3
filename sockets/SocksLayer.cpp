#include "sockets/SocksLayer.h"
