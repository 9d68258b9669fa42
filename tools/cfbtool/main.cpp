#include "cfbtool.h"

int main(int argc, char** argv) {
    return cfbtool::Run(argc, argv, stdin, stdout, stderr);
}
