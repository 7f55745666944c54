# unit tests are added here
