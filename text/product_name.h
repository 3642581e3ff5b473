// The product's name, as the user and Windows see it: program group,
// uninstall display name and messages. Texts that hold it are composed by
// literal concatenation, so they stay single constants.
#ifndef TEXT_PRODUCT_NAME_H
#define TEXT_PRODUCT_NAME_H

#define PRODUCT_NAME "VKO Halvermont"

#endif
