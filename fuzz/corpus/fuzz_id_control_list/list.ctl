8495******* Moscow
123

1234 
 Борт-* found
