#include "Dialogue.h"

int main() {
    platora::Dialogue dialogue;
    return dialogue.run();
}
