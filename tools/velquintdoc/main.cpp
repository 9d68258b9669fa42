#include "doctool.h"

int main(int argc, char** argv) {
    return velquintdoc::Run(argc, argv, stdout, stderr);
}
