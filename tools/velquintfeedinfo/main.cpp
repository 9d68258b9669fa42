#include "feedinfo.h"

int main(int argc, char** argv) {
    return feedinfo::Run(argc, argv, stdout, stderr);
}
