// brakmor: moves the records of the receive buffer file into the database.
// No arguments, no console input, exit code 0 on every path.
#include "service/transfer.h"

int main() { return Svc_Main(); }
