#pragma once

class BlockRow;
class ServiceClient;

// Gives the row's comment popover its form, posting through `client` (which outlives the row).
void installInlineComments(BlockRow &row, ServiceClient &client);
